// The single-instance guard: a named mutex created once, before the run
// starts, and held until the process ends. Only the outcome of its creation
// counts; nobody waits on it.
#pragma once

#include <windows.h>

#include "framework/handle.h"

class CInstanceGuard {
 public:
  // Creates the mutex at once. name may be null: then the mutex is unnamed
  // and the guard never reports another instance. A name is cut to 260 units.
  explicit CInstanceGuard(const wchar_t* name);
  ~CInstanceGuard() { Close(); }
  CInstanceGuard(const CInstanceGuard&) = delete;
  CInstanceGuard& operator=(const CInstanceGuard&) = delete;

  // Closes any held handle, creates (or opens) the mutex without taking
  // ownership and records the system's last error, success or not.
  void Create();
  // Closes the held handle, if any.
  void Close();
  // TRUE when the mutex already existed (183) or exists under security that
  // refuses this process (5).
  BOOL IsAnotherInstanceRunning() const;

 private:
  DWORD m_dwLastError = 0;
  CHandle m_hMutex;
  bool m_bNoName = false;
  wchar_t m_szName[MAX_PATH + 1] = {};
};
