// Command lines for the test and bench programs that start other programs:
// each argument quoted so that the started program's C runtime (or, for host
// commands, the shell) splits it back out unchanged. Header-only and portable, so that host, Windows and bench
// programs can all compile it without a library of their own.
#pragma once

#include <string>

namespace test_support {

// arg as one command-line argument: quoted when it is empty or holds a blank,
// tab or double quote; backslashes doubled only where they precede a quote.
inline std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    // 2n backslashes read back as n; the extra one escapes the quote.
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  // Backslashes before the closing quote would escape it.
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}

// text as one word of a POSIX shell command: single-quoted, each ' as '\''.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// argv[0] to argv[argc - 1], each quoted, separated by one blank.
inline std::wstring JoinArguments(int argc, const wchar_t* const* argv) {
  std::wstring line;
  for (int i = 0; i < argc; ++i) line += (i ? L" " : L"") + QuoteArgument(argv[i]);
  return line;
}

}  // namespace test_support
