#include "framework/file_exception.h"

#include "framework/framework_ids.h"

namespace {

struct OsErrorCause {
  unsigned short osError;
  unsigned char cause;
};

// Windows system error codes and the cause each one reports. Codes not listed
// here are cause 1, even where their neighbours are listed.
const OsErrorCause kOsErrorCauses[] = {
    {0, CFileException::NoError},
    {2, CFileException::NotFound},          {6, CFileException::NotFound},
    {18, CFileException::NotFound},         {107, CFileException::NotFound},
    {3, CFileException::IncorrectPath},     {15, CFileException::IncorrectPath},
    {17, CFileException::IncorrectPath},    {34, CFileException::IncorrectPath},
    {52, CFileException::IncorrectPath},    {53, CFileException::IncorrectPath},
    {55, CFileException::IncorrectPath},    {67, CFileException::IncorrectPath},
    {70, CFileException::IncorrectPath},    {85, CFileException::IncorrectPath},
    {111, CFileException::IncorrectPath},   {123, CFileException::IncorrectPath},
    {124, CFileException::IncorrectPath},   {125, CFileException::IncorrectPath},
    {144, CFileException::IncorrectPath},   {154, CFileException::IncorrectPath},
    {161, CFileException::IncorrectPath},   {206, CFileException::IncorrectPath},
    {208, CFileException::IncorrectPath},   {267, CFileException::IncorrectPath},
    {4, CFileException::OpenFileLimit},     {36, CFileException::OpenFileLimit},
    {68, CFileException::OpenFileLimit},    {113, CFileException::OpenFileLimit},
    {5, CFileException::AccessDenied},      {12, CFileException::AccessDenied},
    {19, CFileException::AccessDenied},     {29, CFileException::AccessDenied},
    {54, CFileException::AccessDenied},     {58, CFileException::AccessDenied},
    {64, CFileException::AccessDenied},     {65, CFileException::AccessDenied},
    {71, CFileException::AccessDenied},     {80, CFileException::AccessDenied},
    {82, CFileException::AccessDenied},     {86, CFileException::AccessDenied},
    {170, CFileException::AccessDenied},    {183, CFileException::AccessDenied},
    {999, CFileException::AccessDenied},
    {11, CFileException::IncorrectHandle},  {26, CFileException::IncorrectHandle},
    {60, CFileException::IncorrectHandle},  {66, CFileException::IncorrectHandle},
    {114, CFileException::IncorrectHandle}, {182, CFileException::IncorrectHandle},
    {191, CFileException::IncorrectHandle}, {193, CFileException::IncorrectHandle},
    {16, CFileException::IsCurrentDirectory}, {145, CFileException::IsCurrentDirectory},
    {62, CFileException::DirectoryFull},
    {24, CFileException::SeekFailed},       {25, CFileException::SeekFailed},
    {27, CFileException::SeekFailed},       {30, CFileException::SeekFailed},
    {131, CFileException::SeekFailed},      {132, CFileException::SeekFailed},
    {20, CFileException::HardwareIoError},  {21, CFileException::HardwareIoError},
    {22, CFileException::HardwareIoError},  {23, CFileException::HardwareIoError},
    {57, CFileException::HardwareIoError},  {59, CFileException::HardwareIoError},
    {88, CFileException::HardwareIoError},  {117, CFileException::HardwareIoError},
    {995, CFileException::HardwareIoError}, {996, CFileException::HardwareIoError},
    {997, CFileException::HardwareIoError},
    {32, CFileException::SharingViolation},
    {33, CFileException::LockingViolation}, {108, CFileException::LockingViolation},
    {167, CFileException::LockingViolation},
    {39, CFileException::DiskFull},         {112, CFileException::DiskFull},
    {38, CFileException::PastEnd},
};

// Replaces every "%1" of sentence with name.
CString Substitute(const CString& sentence, const CString& name) {
  CString out;
  const wchar_t* s = sentence.GetString();
  for (int i = 0; i < sentence.GetLength(); ++i) {
    if (s[i] == L'%' && s[i + 1] == L'1') {
      out += name;
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

CFileException::CFileException(int cause, LONG osError, const wchar_t* fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

void CFileException::SetOsError(LONG osError, const wchar_t* fileName) {
  m_lOsError = osError;
  m_cause = OsErrorToException(osError);
  m_strFileName = fileName;
}

void CFileException::SetCause(int cause, const wchar_t* fileName) {
  m_cause = cause;
  m_strFileName = fileName;
}

int CFileException::OsErrorToException(LONG osError) {
  for (const OsErrorCause& entry : kOsErrorCauses) {
    if (static_cast<LONG>(entry.osError) == osError) return entry.cause;
  }
  return UnknownError;
}

BOOL CFileException::GetErrorMessage(wchar_t* buffer, UINT maxChars, UINT* helpContext) const {
  if (!buffer || maxChars == 0) return FALSE;
  if (helpContext) *helpContext = 0;
  CString name = m_strFileName;
  if (name.IsEmpty()) name.LoadString(AFX_IDP_UNNAMED_FILE);
  CString sentence;
  CString message;
  if (sentence.LoadString(AFX_IDP_FILE_NONE + m_cause)) message = Substitute(sentence, name);
  UINT len = static_cast<UINT>(message.GetLength());
  if (len > maxChars - 1) len = maxChars - 1;
  memcpy(buffer, message.GetString(), len * sizeof(wchar_t));
  buffer[len] = L'\0';
  return TRUE;
}
