// CUtility: the diagnostic log, the environment probes and the reporting of
// file errors. Static operations only; it keeps no state between calls.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/file_exception.h"

class CUtility {
 public:
  CUtility() = delete;

  // --- Diagnostic log ---------------------------------------------------
  // Formats the message (Microsoft conventions, at most 1022 units; longer
  // gives an empty message), builds "[pid]timestamp  message  Err:lasterror",
  // sends it to the debugger output and appends it to the log file. Never
  // fails towards the caller and leaves the caller's last error as it was.
  static void Log(const wchar_t* format, ...);
  // The log file's path: the Windows directory followed by "\Temp\unpack.log".
  static CString GetLogPath();
  // Appends line and CR LF, UTF-16LE, to the log file, opened for this line
  // alone with no sharing. When the file cannot be opened, or is a link or
  // has a second hard link, the line is lost (it reached the debugger).
  static void AppendLogLine(const wchar_t* line);

  // --- Environment probes -----------------------------------------------
  // Logs the OS line: version, build, service pack, and the WOW64 flag.
  static void OSInfo();
  // True when the OS major version is below 6 (before Windows Vista).
  static BOOL IsPreVista();
  // True when this is a 32-bit process on 64-bit Windows; false when the
  // query is missing or fails.
  static BOOL IsWow64();
  // The running executable's full path; empty when the system cannot give it.
  static CString GetModulePath();
  // True when a file or a directory exists at path.
  static BOOL FileExists(const wchar_t* path);

  // --- File error reporting ---------------------------------------------
  // Logs the sentence of the record's cause with its file name.
  static void FileException(const CFileException& error);
  // Logs the line of the system's error for path, which the line also
  // shows as its Err.
  static void FileError(const wchar_t* path, DWORD error);

 private:
  // OSInfo's line for any version, which tests cannot make the system report.
  friend class CUtilityTestPeer;
  // Logs the OS line for the given version record and WOW64 flag.
  static void LogOSLine(const OSVERSIONINFOW& version, BOOL wow64);
};
