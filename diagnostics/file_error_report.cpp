#include "diagnostics/log.h"

namespace {

// The source tag of the file error line: part of the log's format.
const wchar_t kLogSourceFileException[] = L"CUtility::FileException";

}  // namespace

void CUtility::FileException(const CFileException& error) {
  wchar_t message[1024] = {};
  if (error.GetErrorMessage(message, 1024)) Log(L"[%s] %s", kLogSourceFileException, message);
}
