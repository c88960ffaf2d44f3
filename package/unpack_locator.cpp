#include "diagnostics/log.h"
#include "format/log_vocabulary.h"
#include "format/package_walk.h"
#include "format/signature_answers.h"
#include "framework/file.h"
#include "package/unpack.h"

namespace {

const wchar_t kLogSourceFindHeader[] = L"" UNPACK_LOG_SOURCE_FIND_HEADER;

// The held file as the locate sequence reads it: every failure is logged as
// a file error when it happens, so the lines keep the sequence's order.
class CSourceReader {
 public:
  CSourceReader(CFile& file, CFileException& error) : m_file(file), m_error(error) {}

  BOOL Read(uint64_t offset, void* buffer, size_t count) {
    return Report(m_file.Seek(static_cast<LONGLONG>(offset), CFile::begin, nullptr, &m_error) &&
                  ReadHere(buffer, count));
  }
  BOOL Length(uint64_t* length) { return Report(m_file.GetLength(length, &m_error)); }
  // A tail longer than the file is a seek before its start: cause 9.
  BOOL ReadTail(uint64_t tail, void* buffer, size_t count) {
    return Report(m_file.Seek(-static_cast<LONGLONG>(tail), CFile::end, nullptr, &m_error) &&
                  ReadHere(buffer, count));
  }
  void CertificateSizeRead(int32_t size) {
    CUtility::Log(L"[%s] " UNPACK_LOG_SIGN_SIZE "%d", kLogSourceFindHeader, static_cast<int>(size));
  }

 private:
  BOOL ReadHere(void* buffer, size_t count) {
    UINT got = 0;
    return m_file.Read(buffer, static_cast<UINT>(count), &got, &m_error);
  }
  BOOL Report(BOOL done) {
    if (!done) CUtility::FileException(m_error);
    return done;
  }
  CFile& m_file;
  CFileException& m_error;
};

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

  // Reaches the signature check, which is this object's.
  class CReader : public CSourceReader {
   public:
    CReader(CUnPack& unpack, const CString& path, CFile& file, CFileException& error)
        : CSourceReader(file, error), m_unpack(unpack), m_path(path) {}
    BOOL AcceptStub(const CPackageLocation& at, const uint8_t (&peHeaders)[kPeHeaderBytes]) {
      // The header offset line shows the read's error, not what the check left.
      DWORD readError = ::GetLastError();
      if (!m_unpack.AcceptSignature(m_path, at.certificateSize, SecurityAddress(peHeaders), at.length)) return FALSE;
      ::SetLastError(readError);
      return TRUE;
    }

   private:
    CUnPack& m_unpack;
    const CString& m_path;
  } reader(*this, path, file, error);

  CPackageLocation at;
  const LocateEnd end = LocatePackage(reader, &at);
  if (end != LocateEnd::kFound && end != LocateEnd::kNoPackage) return 0;
  CUtility::Log(L"[%s] " UNPACK_LOG_HEADER_OFFSET "%d", kLogSourceFindHeader, static_cast<int>(at.headerOffset));
  return at.headerOffset;
}
