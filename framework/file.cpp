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

BOOL CFile::Prepare(const wchar_t* name, wchar_t (&full)[kMaxPathUnits + 1], CFileException* error) {
  Close();
  if (!name) name = L"";
  if (lstrlenW(name) >= static_cast<int>(kMaxPathUnits)) {
    if (error) error->SetCause(CFileException::IncorrectPath, name);
    return FALSE;
  }
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
  return AllocateBuffer(name, error);
}

BOOL CFile::AllocateBuffer(const wchar_t* name, CFileException* error) {
  m_pBuffer = static_cast<BYTE*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, kBufferSize));
  if (!m_pBuffer) {
    if (error) error->SetCause(CFileException::UnknownError, name);
    return FALSE;
  }
  return TRUE;
}

void CFile::Attach(HANDLE h, const wchar_t* full, bool writable) {
  m_hFile.Reset(h);
  m_strFileName = full;
  m_bWritable = writable;
}

BOOL CFile::AdoptForWriting(CHandle&& handle, const wchar_t* name, CFileException* error) {
  Close();
  CHandle owned(static_cast<CHandle&&>(handle));
  if (!AllocateBuffer(name, error)) return FALSE;
  Attach(owned.Release(), name, true);
  return TRUE;
}

BOOL CFile::Open(const wchar_t* name, UINT flags, CFileException* error) {
  wchar_t full[kMaxPathUnits + 1] = {};
  if (!Prepare(name, full, error)) return FALSE;
  SECURITY_ATTRIBUTES sa = {};
  sa.nLength = sizeof(sa);
  sa.bInheritHandle = (flags & modeNoInherit) ? FALSE : TRUE;
  HANDLE h = ::CreateFileW(name, DesiredAccess(flags), ShareMode(flags), &sa, Disposition(flags),
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), name);
    Close();
    return FALSE;
  }
  Attach(h, full, (flags & 3) != modeRead);
  return TRUE;
}

BOOL CFile::OpenDuplicate(HANDLE source, const wchar_t* name, CFileException* error) {
  wchar_t full[kMaxPathUnits + 1] = {};
  if (!Prepare(name, full, error)) return FALSE;
  HANDLE process = ::GetCurrentProcess();
  HANDLE h = nullptr;
  if (!::DuplicateHandle(process, source, process, &h, FILE_GENERIC_READ, FALSE, 0)) {
    if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), name);
    Close();
    return FALSE;
  }
  Attach(h, full, false);
  // Where source stands, the duplicate stands too: start where an open would.
  if (Seek(0, begin, nullptr, error)) return TRUE;
  Close();
  return FALSE;
}

void CFile::Fail(CFileException* error) const {
  if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), m_strFileName);
}

BOOL CFile::WriteThrough(const void* data, UINT count, CFileException* error) {
  if (count == 0) return TRUE;
  DWORD written = 0;
  if (!::WriteFile(m_hFile.Get(), data, count, &written, nullptr)) {
    Fail(error);
    return FALSE;
  }
  if (written != count) {
    if (error) error->SetCause(CFileException::DiskFull, m_strFileName);
    return FALSE;
  }
  return TRUE;
}

BOOL CFile::Flush(CFileException* error) {
  if (m_state != BufferState::kWriting) return TRUE;
  UINT pending = m_nBufferUsed;
  m_nBufferUsed = 0;
  m_state = BufferState::kEmpty;
  // Once reported, the data is given up: a retry would write it out of order.
  return WriteThrough(m_pBuffer, pending, error);
}

BOOL CFile::DropReadAhead(CFileException* error) {
  if (m_state != BufferState::kReading) return TRUE;
  LONGLONG unread = static_cast<LONGLONG>(m_nBufferUsed - m_nBufferPos);
  m_nBufferUsed = m_nBufferPos = 0;
  m_state = BufferState::kEmpty;
  if (unread == 0) return TRUE;
  LARGE_INTEGER back;
  back.QuadPart = -unread;
  if (!::SetFilePointerEx(m_hFile.Get(), back, nullptr, FILE_CURRENT)) {
    Fail(error);
    return FALSE;
  }
  return TRUE;
}

BOOL CFile::Read(void* buffer, UINT count, UINT* read, CFileException* error) {
  if (read) *read = 0;
  if (!Flush(error)) return FALSE;
  BYTE* out = static_cast<BYTE*>(buffer);
  UINT delivered = 0;
  while (delivered < count) {
    if (m_state == BufferState::kReading && m_nBufferPos < m_nBufferUsed) {
      UINT take = m_nBufferUsed - m_nBufferPos;
      if (take > count - delivered) take = count - delivered;
      ::CopyMemory(out + delivered, m_pBuffer + m_nBufferPos, take);
      m_nBufferPos += take;
      delivered += take;
      continue;
    }
    UINT wanted = count - delivered;
    DWORD got = 0;
    if (wanted >= kBufferSize) {
      // Large reads go straight to the caller's memory.
      if (!::ReadFile(m_hFile.Get(), out + delivered, wanted, &got, nullptr)) {
        Fail(error);
        return FALSE;
      }
      delivered += got;
      if (got == 0) break;
      continue;
    }
    m_state = BufferState::kReading;
    m_nBufferPos = m_nBufferUsed = 0;
    if (!::ReadFile(m_hFile.Get(), m_pBuffer, kBufferSize, &got, nullptr)) {
      m_state = BufferState::kEmpty;
      Fail(error);
      return FALSE;
    }
    m_nBufferUsed = got;
    if (got == 0) break;  // the end of the file
  }
  if (read) *read = delivered;
  return TRUE;
}

BOOL CFile::Write(const void* buffer, UINT count, CFileException* error) {
  if (count == 0) return TRUE;
  if (!m_bWritable) {
    // Refused now, as the system would refuse it, not later at a flush.
    if (error) error->SetOsError(ERROR_ACCESS_DENIED, m_strFileName);
    return FALSE;
  }
  if (!DropReadAhead(error)) return FALSE;
  const BYTE* in = static_cast<const BYTE*>(buffer);
  if (m_nBufferUsed + count > kBufferSize) {
    if (!Flush(error)) return FALSE;
    if (count >= kBufferSize) return WriteThrough(in, count, error);
  }
  ::CopyMemory(m_pBuffer + m_nBufferUsed, in, count);
  m_nBufferUsed += count;
  m_state = BufferState::kWriting;
  return TRUE;
}

BOOL CFile::Seek(LONGLONG offset, UINT from, ULONGLONG* position, CFileException* error) {
  if (!Flush(error)) return FALSE;
  LARGE_INTEGER now = {};
  LARGE_INTEGER zero = {};
  if (m_state == BufferState::kReading) {
    // Inside what was read ahead a seek costs no system call.
    if (!::SetFilePointerEx(m_hFile.Get(), zero, &now, FILE_CURRENT)) {
      Fail(error);
      return FALSE;
    }
    LONGLONG logical = now.QuadPart - static_cast<LONGLONG>(m_nBufferUsed - m_nBufferPos);
    LONGLONG bufferStart = now.QuadPart - static_cast<LONGLONG>(m_nBufferUsed);
    if (from == current) {
      offset += logical;
      from = begin;
    }
    if (from == begin && offset >= bufferStart && offset <= now.QuadPart) {
      m_nBufferPos = static_cast<UINT>(offset - bufferStart);
      if (position) *position = static_cast<ULONGLONG>(offset);
      return TRUE;
    }
    // Elsewhere: put the system's position back where ours is, so that a
    // failing seek leaves the position unchanged, as a direct one would.
    if (!DropReadAhead(error)) return FALSE;
  }
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
  if (!Flush(error)) return FALSE;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(m_hFile.Get(), &size)) {
    Fail(error);
    return FALSE;
  }
  if (length) *length = static_cast<ULONGLONG>(size.QuadPart);
  return TRUE;
}

BOOL CFile::Close(CFileException* error) {
  BOOL ok = TRUE;
  if (m_hFile.IsValid()) ok = Flush(error);
  m_hFile.Reset();
  if (m_pBuffer) ::HeapFree(::GetProcessHeap(), 0, m_pBuffer);
  m_pBuffer = nullptr;
  m_nBufferUsed = m_nBufferPos = 0;
  m_state = BufferState::kEmpty;
  m_bWritable = false;
  m_strFileName.Empty();
  return ok;
}
