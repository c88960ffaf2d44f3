#include "hardening/shared_folder_file.h"

#include "framework/system_dlls.h"
#include "hardening/handle_relative.h"
#include "hardening/protected_directory.h"

namespace {

// Read access makes the sharing bind others; attribute access alone would not.
HANDLE CreateHeldFile(const wchar_t* path) {
  return ::CreateFileW(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// TRUE when the file at path is somebody else's: its owner can be read and
// is none this process trusts.
BOOL IsForeignFile(const wchar_t* path) {
  CHandle file(::CreateFileW(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.IsValid() && !HasTrustedOwner(file.Get());
}

}  // namespace

BOOL IsSingleLinkFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return ::GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         info.nNumberOfLinks == 1;
}

BOOL CreateFreshFile(const wchar_t* path, CHandle* held) {
  DWORD attributes = ::GetFileAttributesW(path);
  // A link is not removed by name: some systems would remove its target. The
  // creation below then fails on it.
  if (attributes != INVALID_FILE_ATTRIBUTES && IsForeignFile(path)) {
    held->Reset();
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    ::DeleteFileW(path);
  held->Reset(CreateHeldFile(path));
  if (held->IsValid() || ::GetLastError() != ERROR_FILE_EXISTS || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return held->IsValid();
  // A reader holds the old file without sharing its deletion. A plain file
  // with one name leads nowhere else: it is held instead, for reading only
  // as a new one would be (the interpreter's redirection must still get in),
  // and emptied through a second handle to the very same file.
  CHandle existing(::CreateFileW(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!existing.IsValid()) return FALSE;
  CHandle writer(::CreateFileW(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!writer.IsValid()) return FALSE;
  if (!IsSingleLinkFile(existing.Get()) || !IsSameFile(existing.Get(), writer.Get())) {
    ::SetLastError(ERROR_FILE_EXISTS);
    return FALSE;
  }
  if (!::SetEndOfFile(writer.Get())) return FALSE;
  *held = static_cast<CHandle&&>(existing);
  return TRUE;
}

BOOL UnforeseeableName(const wchar_t* base, CString* name) {
  name->Empty();
  const CSystemApi* api = SystemApi();
  DWORD draw = 0;
  if (!api || !api->SystemFunction036(&draw, sizeof(draw))) return FALSE;
  return name->Format(L"%s.%08x", base, static_cast<unsigned>(draw));
}

BOOL CreateUnforeseeableFile(const wchar_t* base, const wchar_t* suffix, CString* name, CHandle* held) {
  held->Reset();
  ::SetLastError(ERROR_FILE_EXISTS);
  for (int attempt = 0; attempt < 8 && !held->IsValid() && ::GetLastError() == ERROR_FILE_EXISTS; ++attempt) {
    if (!UnforeseeableName(base, name)) return FALSE;
    held->Reset(CreateHeldFile(*name + suffix));
  }
  return held->IsValid();
}
