// The launcher's log as tests read it: UTF-16LE lines "[pid]time  message  Err:n".
// The one pattern of a line for every test tree; the lines are written by
// diagnostics/, and tests match them here, never by calling the writer.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// The bytes of a log file decoded from UTF-16LE and split at CR LF (the line
// ends dropped); an unterminated tail shows up as a last line too.
std::vector<std::wstring> DecodeLogLines(const std::string& bytes);

// A line split into its fields: wide as decoded from the file, or narrow
// (UTF-8) as the debugger output carries it.
template <typename Char>
struct CLogLineParts {
  std::basic_string<Char> pid;
  std::basic_string<Char> time;     // "YYYY-MM-DD HH:MM:SS", or empty where the line has none
  std::basic_string<Char> message;  // between the two double blanks, "[source] text"
  long error = 0;                   // the n of "Err:n"
};

// Splits one line; false when it is not in the launcher's line format.
bool SplitLogLine(const std::wstring& text, CLogLineParts<wchar_t>* parts);
bool SplitLogLine(const std::string& text, CLogLineParts<char>* parts);

// UTF-8 of a wide string, one code unit at a time (for messages and matching).
std::string Narrow(const std::wstring& text);

// Text escaped for use inside a regular expression.
std::string RegexLiteral(const std::string& text);

}  // namespace test_support
