#include "launcher/instance_guard.h"

CInstanceGuard::CInstanceGuard(const wchar_t* name) : m_bNoName(name == nullptr) {
  if (name) ::lstrcpynW(m_szName, name, MAX_PATH + 1);
  Create();
}

void CInstanceGuard::Create() {
  Close();
  m_hMutex.Reset(::CreateMutexW(nullptr, FALSE, m_bNoName ? nullptr : m_szName));
  m_dwLastError = ::GetLastError();
}

void CInstanceGuard::Close() { m_hMutex.Reset(); }

BOOL CInstanceGuard::IsAnotherInstanceRunning() const {
  return m_dwLastError == ERROR_ALREADY_EXISTS || m_dwLastError == ERROR_ACCESS_DENIED;
}
