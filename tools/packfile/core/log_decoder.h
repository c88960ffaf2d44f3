// Reads the launcher's unpack.log: UTF-16LE lines "[pid]time  message  Err:n",
// appended run after run, into one summary per run. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CLogLine {
  std::string pid;
  std::string time;       // "YYYY-MM-DD HH:MM:SS", or empty
  std::string source;     // the source tag, as format/log_vocabulary.h names them
  std::string message;    // after the source tag
  std::int64_t lastError = 0;
};

// Splits one decoded line; false when it is not in the launcher's format.
bool ParseLogLine(const std::string& text, CLogLine* line);

struct CFailedFile {
  std::string file;
  std::string reason;     // the file error's message, when one was logged
};

// What a file error line of a run stands for.
enum class FileErrorKind {
  kFile,       // a file the extractor could not write (or another file error)
  kSignature,  // the launcher refused its own image: the signature check's answer
  kLeftover,   // something in the way of the work directory, stepped around or cleared
  kProgram,    // the program to run was not found where no neighbour writes
};

struct CFileError {
  std::string message;        // the sentence as logged
  std::string path;           // the name the sentence is about; empty when no sentence matched
  std::int64_t lastError = 0; // the line's Err value: the system error or the signature answer
  std::string reason;         // that value in words, e.g. "ERROR_ALREADY_EXISTS (183): something is already there"
  FileErrorKind kind = FileErrorKind::kFile;
  std::string meaning;        // what the launcher did, for every kind but kFile
};

// The name of a file error kind in JSON: "file", "signature", "leftover", "program".
const char* FileErrorKindName(FileErrorKind kind);

struct CLogRun {
  std::string pid;
  std::string start, end;             // times of the first and last line
  std::string os;                     // the OS line's text
  std::string executable;             // the launcher's own path
  bool packageFound = true;           // false after the locator's failure line
  std::int64_t headerOffset = -1;     // -1 when not logged
  std::int64_t certificateSize = -1;
  std::vector<std::string> expected;  // files the extractor set out to write
  std::vector<std::string> written;   // files it finished
  std::vector<CFailedFile> failed;    // expected but not written
  std::vector<CFileError> fileErrors; // every file error line of the run, in order
  std::string refusal;                // why the launcher refused to go on (signature, program); empty when it did not
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
