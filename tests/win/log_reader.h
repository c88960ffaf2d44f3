// Reading the machine-wide log in tests: its raw bytes and its lines.
#pragma once

#include <string>
#include <vector>

// The log file's path as the launcher computes it, independently derived.
std::wstring LogFilePath();
// Deletes the log file; true when it is gone.
bool DeleteLogFile();
// The log's raw bytes; empty when it does not exist.
std::string LogBytes();
// The log decoded from UTF-16LE and split at CR LF (the line ends dropped).
std::vector<std::wstring> LogLines();
// The message part of each line (between the timestamp and "  Err:"); a line
// outside the launcher's format shows as "<unparsed> " and the line.
std::vector<std::wstring> LogMessages();
