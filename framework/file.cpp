#include "framework/file.h"

namespace {

const DWORD kMaxPathUnits = MAX_PATH;  // 260, terminator included

DWORD DesiredAccess(UINT flags) {
  switch (flags & 3) {
    case CFile::modeWrite: return GENERIC_WRITE;
    case CFile::modeReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
  }
}

DWORD ShareMode(UINT flags) {
  switch (flags & 0x70) {
    case CFile::shareDenyWrite: return FILE_SHARE_READ;
    case CFile::shareDenyRead: return FILE_SHARE_WRITE;
    case CFile::shareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // exclusive, and the compatibility mode
  }
}

DWORD Disposition(UINT flags) {
  if (flags & CFile::modeCreate) return (flags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  return OPEN_EXISTING;
}

}  // namespace

BOOL CFile::Open(const wchar_t* name, UINT flags, CFileException* error) {
  Close();
  if (!name) name = L"";
  if (lstrlenW(name) >= static_cast<int>(kMaxPathUnits)) {
    if (error) error->SetCause(CFileException::IncorrectPath, name);
    return FALSE;
  }
  wchar_t full[kMaxPathUnits + 1] = {};
  wchar_t* filePart = nullptr;
  DWORD len = ::GetFullPathNameW(name, kMaxPathUnits, full, &filePart);
  if (len == 0) {
    if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), name);
    return FALSE;
  }
  if (len >= kMaxPathUnits) {
    if (error) error->SetCause(CFileException::IncorrectPath, name);
    return FALSE;
  }
  SECURITY_ATTRIBUTES sa = {};
  sa.nLength = sizeof(sa);
  sa.bInheritHandle = (flags & modeNoInherit) ? FALSE : TRUE;
  HANDLE h = ::CreateFileW(name, DesiredAccess(flags), ShareMode(flags), &sa, Disposition(flags),
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), name);
    return FALSE;
  }
  m_hFile.Reset(h);
  m_strFileName = full;
  return TRUE;
}

void CFile::Fail(CFileException* error) const {
  if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
}

BOOL CFile::Read(void* buffer, UINT count, UINT* read, CFileException* error) {
  DWORD got = 0;
  if (read) *read = 0;
  if (count == 0) return TRUE;
  if (!::ReadFile(m_hFile.Get(), buffer, count, &got, nullptr)) {
    Fail(error);
    return FALSE;
  }
  if (read) *read = got;
  return TRUE;
}

BOOL CFile::Write(const void* buffer, UINT count, CFileException* error) {
  if (count == 0) return TRUE;
  DWORD written = 0;
  if (!::WriteFile(m_hFile.Get(), buffer, count, &written, nullptr)) {
    Fail(error);
    return FALSE;
  }
  if (written != count) {
    if (error) error->SetCause(CFileException::DiskFull, m_strFileName);
    return FALSE;
  }
  return TRUE;
}

BOOL CFile::Seek(LONGLONG offset, UINT from, ULONGLONG* position, CFileException* error) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER moved = {};
  DWORD method = from == end ? FILE_END : from == current ? FILE_CURRENT : FILE_BEGIN;
  if (!::SetFilePointerEx(m_hFile.Get(), distance, &moved, method)) {
    Fail(error);  // before the start of the file the system says ERROR_NEGATIVE_SEEK: cause 9
    return FALSE;
  }
  if (position) *position = static_cast<ULONGLONG>(moved.QuadPart);
  return TRUE;
}

BOOL CFile::GetLength(ULONGLONG* length, CFileException* error) {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(m_hFile.Get(), &size)) {
    Fail(error);
    return FALSE;
  }
  if (length) *length = static_cast<ULONGLONG>(size.QuadPart);
  return TRUE;
}

BOOL CFile::Close(CFileException* /*error*/) {
  m_hFile.Reset();
  m_strFileName.Empty();
  return TRUE;
}
