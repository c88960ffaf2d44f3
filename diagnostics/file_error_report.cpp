#include "diagnostics/log.h"
#include "format/log_vocabulary.h"

namespace {

const wchar_t kLogSourceFileException[] = L"" UNPACK_LOG_SOURCE_FILE_EXCEPTION;

}  // namespace

void CUtility::FileException(const CFileException& error) {
  wchar_t message[1024] = {};
  if (error.GetErrorMessage(message, 1024)) Log(L"[%s] %s", kLogSourceFileException, message);
}

void CUtility::FileError(const wchar_t* path, DWORD error) {
  CFileException record;
  record.SetOsError(static_cast<LONG>(error), path);
  ::SetLastError(error);
  FileException(record);
}
