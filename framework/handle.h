// Move-only owners for Windows handles. Every handle the launcher opens lives
// in one of these, so early returns cannot leak it.
#pragma once

#include <windows.h>

// Closes kernel objects: files, threads, processes, mutexes.
struct CKernelHandleTraits {
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};

// Closes directory enumerations opened by FindFirstFileW.
struct CFindHandleTraits {
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};

template <typename Traits>
class CScopedHandle {
 public:
  CScopedHandle() = default;
  // Takes ownership of h (which may be null or INVALID_HANDLE_VALUE: then nothing is owned).
  explicit CScopedHandle(HANDLE h) : m_h(h) {}
  ~CScopedHandle() { Reset(); }

  CScopedHandle(const CScopedHandle&) = delete;
  CScopedHandle& operator=(const CScopedHandle&) = delete;
  CScopedHandle(CScopedHandle&& other) noexcept : m_h(other.Release()) {}
  CScopedHandle& operator=(CScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  // True when a handle is owned.
  bool IsValid() const { return Traits::IsValid(m_h); }
  // The owned handle, still owned; the raw value when none is owned.
  HANDLE Get() const { return m_h; }
  // Closes the owned handle (if any) and owns h instead.
  void Reset(HANDLE h = nullptr) {
    if (Traits::IsValid(m_h)) Traits::Close(m_h);
    m_h = h;
  }
  // Gives up ownership without closing; the caller closes what it gets.
  HANDLE Release() {
    HANDLE h = m_h;
    m_h = nullptr;
    return h;
  }

 private:
  HANDLE m_h = nullptr;
};

using CHandle = CScopedHandle<CKernelHandleTraits>;
using CFindHandle = CScopedHandle<CFindHandleTraits>;
