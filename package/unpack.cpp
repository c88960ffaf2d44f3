#include "package/unpack.h"

#include "diagnostics/log.h"
#include "hardening/image_file.h"
#include "format/signature_answers.h"

CUnPack::CUnPack() = default;

CUnPack::CUnPack(const wchar_t* sourcePath, const wchar_t* workParent)
    : m_strSource(sourcePath), m_workDir(workParent) {}

void CUnPack::Run() {
  StartThread();
  // Without a thread the wait fails at once and the run goes on without files.
  if (::WaitForSingleObject(m_hThread.Get(), INFINITE) == WAIT_OBJECT_0) m_hThread.Reset();
}

void CUnPack::StartThread() {
  if (m_hThread.IsValid()) return;
  m_hThread.Reset(::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
}

DWORD WINAPI CUnPack::ThreadProc(LPVOID param) {
  if (!param) return 0;
  return static_cast<DWORD>(static_cast<CUnPack*>(param)->UnPackFiles());
}

CString CUnPack::SourcePath() const {
  // Asked anew at every read, as the locator and the extractor each open the file.
  return m_strSource.IsEmpty() ? CUtility::GetModulePath() : m_strSource;
}

BOOL CUnPack::OpenSource(CFile& file, const CString& path, CFileException* error) const {
  // The running executable is never opened by name: the file at its path
  // may no longer be the one the system started.
  if (m_strSource.IsEmpty()) return CImageFile::Open(file, path, error);
  return file.Open(path, CFile::modeRead | CFile::typeBinary | CFile::shareDenyNone, error);
}

BOOL CUnPack::AcceptSignature(const CString& path, int32_t certificateSize, uint32_t address, ULONGLONG length) {
  // Only the running image answers for a signature; a file given by path is
  // read as it stands.
  if (!m_strSource.IsEmpty() || certificateSize == 0) return TRUE;
  // A table cut short or followed by more bytes moves the stub header away
  // from where the signer left it; the system's answer to such a file is no
  // refusal everywhere, so it is not asked.
  if (!CertificateTableEndsFile(address, certificateSize, length)) {
    m_dwImageRefusal = kCryptFileError;
  } else {
    DWORD answer = CImageFile::VerifySignature(path);
    if (SignatureAnswerRefuses(answer, certificateSize)) m_dwImageRefusal = answer;
  }
  if (!m_dwImageRefusal) return TRUE;
  CUtility::FileError(path, m_dwImageRefusal);
  return FALSE;
}
