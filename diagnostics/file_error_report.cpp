#include "diagnostics/utility.h"

void CUtility::FileException(const CFileException& error) {
  wchar_t message[1024] = {};
  if (error.GetErrorMessage(message, 1024)) Log(L"[%s] %s", L"CUtility::FileException", message);
}
