// Move-only owners for Windows handles. Every handle the launcher opens lives
// in one of these, so early returns cannot leak it.
#pragma once

#include <windows.h>

// Closes kernel objects: files, threads, processes, mutexes.
struct CKernelHandleTraits {
  using Handle = HANDLE;
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};

// Frees DLLs loaded by LoadLibraryExW.
struct CModuleTraits {
  using Handle = HMODULE;
  static bool IsValid(HMODULE h) { return h != nullptr; }
  static void Close(HMODULE h) { ::FreeLibrary(h); }
};

// Unmaps views mapped by MapViewOfFile.
struct CMappedViewTraits {
  using Handle = void*;
  static bool IsValid(void* view) { return view != nullptr; }
  static void Close(void* view) { ::UnmapViewOfFile(view); }
};

// Closes registry keys, through the ADVAPI32 the launcher loaded.
struct CRegKeyTraits {
  using Handle = HKEY;
  static bool IsValid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key);
};

// Frees blocks from the process heap: buffers too large for a frame the
// stack may grow by without probing.
struct CHeapBlockTraits {
  using Handle = void*;
  static bool IsValid(void* block) { return block != nullptr; }
  static void Close(void* block) { ::HeapFree(::GetProcessHeap(), 0, block); }
};

template <typename Traits>
class CScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  // Constant: an owner with static storage is empty before any code runs,
  // so code that runs before static construction may already fill it.
  constexpr CScopedHandle() = default;
  // Takes ownership of h (which may be null or INVALID_HANDLE_VALUE: then nothing is owned).
  explicit CScopedHandle(Handle h) : m_h(h) {}
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
  Handle Get() const { return m_h; }
  // Closes the owned handle (if any) and owns h instead.
  void Reset(Handle h = nullptr) {
    if (Traits::IsValid(m_h)) Traits::Close(m_h);
    m_h = h;
  }
  // Gives up ownership without closing; the caller closes what it gets.
  Handle Release() {
    Handle h = m_h;
    m_h = nullptr;
    return h;
  }

 private:
  Handle m_h = nullptr;
};

using CHandle = CScopedHandle<CKernelHandleTraits>;
using CModule = CScopedHandle<CModuleTraits>;
using CMappedView = CScopedHandle<CMappedViewTraits>;
using CRegKey = CScopedHandle<CRegKeyTraits>;
using CHeapBlock = CScopedHandle<CHeapBlockTraits>;

// A zeroed block of bytes from the process heap; invalid when there is none.
inline CHeapBlock AllocZeroed(SIZE_T bytes) {
  return CHeapBlock(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
}
