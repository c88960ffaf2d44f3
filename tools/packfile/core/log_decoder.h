// Reads the launcher's unpack.log: UTF-16LE lines "[pid]time  message  Err:n",
// appended run after run, into one summary per run. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CLogLine {
  std::string pid;
  std::string time;       // "YYYY-MM-DD HH:MM:SS", or empty
  std::string source;     // e.g. "CUnPack::UnPackFiles"
  std::string message;    // after the source tag
  std::int64_t lastError = 0;
};

// Splits one decoded line; false when it is not in the launcher's format.
bool ParseLogLine(const std::string& text, CLogLine* line);

struct CFailedFile {
  std::string file;
  std::string reason;     // the file error's message, when one was logged
};

struct CLogRun {
  std::string pid;
  std::string start, end;             // times of the first and last line
  std::string os;                     // the OS line's text
  std::string executable;             // the launcher's own path
  bool packageFound = true;           // false after "Fail" from the locator
  std::int64_t headerOffset = -1;     // -1 when not logged
  std::int64_t certificateSize = -1;
  std::vector<std::string> expected;  // files the extractor set out to write
  std::vector<std::string> written;   // files it finished
  std::vector<CFailedFile> failed;    // expected but not written
  std::vector<std::string> errors;    // file-error messages of the run
  std::int64_t totalLogged = -1;      // the extractor's own total line
  std::string dir, file, param;       // the composed command
  bool commandLogged = false;
  bool executeFailed = false;
  std::int64_t childPid = -1;
  bool childDone = false;
  std::int64_t childExitCode = 0;
  std::vector<std::string> unknown;   // lines of no known format, kept whole
};

struct CLogDecoded {
  std::vector<CLogRun> runs;
  std::vector<std::string> malformed;  // lines outside the launcher's format
};

// Decodes the bytes of a log file (UTF-16LE without byte-order mark, as the
// launcher writes it; with a UTF-16LE or UTF-8 byte-order mark, and UTF-8, as
// editors save it again) and groups the lines by run: a run
// starts with its OS line, and a line belongs to the open run of its pid.
CLogDecoded DecodeLog(const std::string& bytes);
