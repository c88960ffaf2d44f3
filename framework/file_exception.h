// The file error record: why a file operation failed, for which file. It is
// filled by CFile and turned into a sentence for the log; nothing throws it.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

class CFileException {
 public:
  // Causes; each selects one sentence of the string table.
  enum {
    NoError = 0,
    UnknownError = 1,
    NotFound = 2,
    IncorrectPath = 3,
    OpenFileLimit = 4,
    AccessDenied = 5,
    IncorrectHandle = 6,
    IsCurrentDirectory = 7,
    DirectoryFull = 8,
    SeekFailed = 9,
    HardwareIoError = 10,
    SharingViolation = 11,
    LockingViolation = 12,
    DiskFull = 13,
    PastEnd = 14,
  };

  // A record with no cause, OS error -1 and no file name.
  CFileException() = default;
  CFileException(int cause, LONG osError, const wchar_t* fileName);

  // Fills the record from an operating-system error code.
  void SetOsError(LONG osError, const wchar_t* fileName);
  // Fills the record with a cause that has no OS error behind it; the OS
  // error is left as it was.
  void SetCause(int cause, const wchar_t* fileName);

  // The cause for a Windows system error code; 1 for every code not listed.
  static int OsErrorToException(LONG osError);

  // Writes the sentence for the cause, with %1 replaced by the file name (or
  // "an unnamed file"), cut to maxChars - 1 units and terminated. FALSE,
  // writing nothing, when buffer is null or maxChars is 0. A sentence that
  // cannot be loaded gives an empty message.
  BOOL GetErrorMessage(wchar_t* buffer, UINT maxChars, UINT* helpContext = nullptr) const;

  int m_cause = NoError;
  LONG m_lOsError = -1;
  CString m_strFileName;
};
