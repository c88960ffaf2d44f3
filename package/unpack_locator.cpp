#include <string.h>

#include "diagnostics/utility.h"
#include "framework/file.h"
#include "format/packfile_header.h"
#include "package/unpack.h"

namespace {

const wchar_t kSource[] = L"CUnPack::FindHeader";

const UINT kDosHeaderBytes = 64;
const UINT kPeOffsetField = 60;
// Signature, file header and the larger (PE32+) optional header: enough for
// the security entry of either layout.
const UINT kPeHeaderBytes = 4 + 20 + 240;
const UINT kMagicField = 24;
const WORD kMagicPe32Plus = 0x20B;
// Size of data directory entry 4 (security): after 96 bytes of PE32 optional
// header fields, 112 of PE32+ ones.
const UINT kSecuritySizePe32 = 24 + 96 + 4 * 8 + 4;
const UINT kSecuritySizePe32Plus = 24 + 112 + 4 * 8 + 4;

LONG ReadLong(const BYTE* bytes, UINT offset) {
  LONG value = 0;
  memcpy(&value, bytes + offset, sizeof(value));
  return value;
}

// The certificate table length. A 64-bit launcher is PE32+, whose data
// directory lies 16 bytes further on; reading byte 156 there would take the
// resource table's size for it.
LONG SecuritySize(const BYTE (&headers)[kPeHeaderBytes]) {
  WORD magic = 0;
  memcpy(&magic, headers + kMagicField, sizeof(magic));
  return ReadLong(headers, magic == kMagicPe32Plus ? kSecuritySizePe32Plus : kSecuritySizePe32);
}

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
  CUtility::Log(L"[%s] Name:%s", kSource, path.GetString());

  CFileException error;
  CFile file;
  if (!OpenSource(file, path, &error)) {
    CUtility::Log(L"[%s] Fail", kSource);
    CUtility::FileException(error);
    return 0;
  }

  BYTE dosHeader[kDosHeaderBytes] = {};
  ULONGLONG length = 0;
  if (!ReadSome(file, dosHeader, sizeof(dosHeader), error)) return 0;
  if (!file.GetLength(&length, &error)) {
    CUtility::FileException(error);
    return 0;
  }
  // Widened with its sign: a negative offset compares as huge and is refused.
  LONGLONG peOffset = ReadLong(dosHeader, kPeOffsetField);
  if (static_cast<ULONGLONG>(peOffset) > length) return 0;

  BYTE peHeaders[kPeHeaderBytes] = {};
  if (!file.Seek(peOffset, CFile::begin, nullptr, &error)) {
    CUtility::FileException(error);
    return 0;
  }
  if (!ReadSome(file, peHeaders, sizeof(peHeaders), error)) return 0;
  LONG certificateSize = SecuritySize(peHeaders);
  CUtility::Log(L"[%s] Sign Size:%d", kSource, static_cast<int>(certificateSize));

  PACKFILE_HEADER stub;
  memset(&stub, 0, sizeof(stub));
  LONGLONG tail = static_cast<LONGLONG>(sizeof(stub)) + (certificateSize > 0 ? certificateSize : 0);
  // A tail longer than the file is a seek before its start: cause 9.
  if (!file.Seek(-tail, CFile::end, nullptr, &error)) {
    CUtility::FileException(error);
    return 0;
  }
  if (!ReadSome(file, &stub, sizeof(stub), error)) return 0;

  CUtility::Log(L"[%s] Header offset:%d", kSource, static_cast<int>(stub.size));
  return stub.size;
}
