#include <string.h>

#include "diagnostics/log.h"
#include "format/log_vocabulary.h"
#include "format/reading_rules.h"
#include "framework/file.h"
#include "package/unpack.h"
#include "format/signature_answers.h"

namespace {

const wchar_t kLogSourceFindHeader[] = L"" UNPACK_LOG_SOURCE_FIND_HEADER;

// Reads up to count bytes into buffer, which the caller zeroed; a failure is
// logged as a file error.
BOOL ReadSome(CFile& file, void* buffer, UINT count, CFileException& error) {
  UINT got = 0;
  if (file.Read(buffer, count, &got, &error)) return TRUE;
  CUtility::FileException(error);
  return FALSE;
}

}  // namespace

ULONGLONG CUnPack::FindHeader() {
  CString path = SourcePath();
  CUtility::Log(L"[%s] " UNPACK_LOG_NAME "%s", kLogSourceFindHeader, path.GetString());

  CFileException error;
  CFile file;
  if (!OpenSource(file, path, &error)) {
    CUtility::Log(L"[%s] " UNPACK_LOG_FIND_FAIL, kLogSourceFindHeader);
    CUtility::FileException(error);
    return 0;
  }

  BYTE dosHeader[pe::kDosHeaderBytes] = {};
  ULONGLONG length = 0;
  if (!ReadSome(file, dosHeader, sizeof(dosHeader), error)) return 0;
  if (!file.GetLength(&length, &error)) {
    CUtility::FileException(error);
    return 0;
  }
  const int32_t peOffset = PeOffset(dosHeader);
  if (!PeOffsetInFile(peOffset, length)) return 0;

  BYTE peHeaders[kPeHeaderBytes] = {};
  if (!file.Seek(peOffset, CFile::begin, nullptr, &error)) {
    CUtility::FileException(error);
    return 0;
  }
  if (!ReadSome(file, peHeaders, sizeof(peHeaders), error)) return 0;
  const int32_t certificateSize = SecuritySize(peHeaders);
  CUtility::Log(L"[%s] " UNPACK_LOG_SIGN_SIZE "%d", kLogSourceFindHeader, static_cast<int>(certificateSize));

  PACKFILE_HEADER stub;
  memset(&stub, 0, sizeof(stub));
  const LONGLONG tail = static_cast<LONGLONG>(StubTail(certificateSize));
  // A tail longer than the file is a seek before its start: cause 9.
  if (!file.Seek(-tail, CFile::end, nullptr, &error)) {
    CUtility::FileException(error);
    return 0;
  }
  if (!ReadSome(file, &stub, sizeof(stub), error)) return 0;
  // The line shows the read's error, not what the signature check left.
  DWORD readError = ::GetLastError();
  if (!AcceptSignature(path, certificateSize, SecurityAddress(peHeaders), length)) return 0;
  ::SetLastError(readError);

  CUtility::Log(L"[%s] " UNPACK_LOG_HEADER_OFFSET "%d", kLogSourceFindHeader, static_cast<int>(stub.size));
  return stub.size;
}
