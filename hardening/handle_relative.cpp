#include "hardening/handle_relative.h"

#include <winternl.h>

#include "framework/system_dlls.h"
#include "hardening/shared_folder_file.h"

namespace {

// The path without its trailing backslash: with one, the system looks at
// what a link points to instead of the link.
CString WithoutTrailingBackslash(const wchar_t* path) {
  CString bare(path);
  int len = bare.GetLength();
  if (len > 1 && bare[len - 1] == L'\\') return CString(bare.GetString(), len - 1);
  return bare;
}

typedef NTSTATUS(NTAPI* NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* NtSetInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(NTSTATUS);

// ntdll is mapped into every process: looking its functions up loads nothing.
template <typename Fn>
Fn Native(const char* name) {
  return FindFunction<Fn>(::GetModuleHandleW(L"ntdll.dll"), name);
}

DWORD ToDosError(NTSTATUS status) {
  auto toDos = Native<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  return toDos ? toDos(status) : ERROR_INVALID_FUNCTION;
}

// STATUS_NO_MORE_FILES: the walk has seen every entry.
const NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);

}  // namespace

DWORD OpenBelow(HANDLE root, const wchar_t* name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                void* descriptor, CHandle* opened) {
  opened->Reset();
  auto create = Native<NtCreateFileFn>("NtCreateFile");
  if (!create) return ERROR_INVALID_FUNCTION;
  UNICODE_STRING counted;
  counted.Length = counted.MaximumLength = static_cast<USHORT>(::lstrlenW(name) * sizeof(wchar_t));
  counted.Buffer = const_cast<wchar_t*>(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, root, descriptor);
  IO_STATUS_BLOCK status = {};
  HANDLE handle = nullptr;
  NTSTATUS result = create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                           disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (result < 0) return ToDosError(result);
  opened->Reset(handle);
  return 0;
}

DWORD CreateFileBelow(HANDLE root, const wchar_t* name, CHandle* created) {
  return OpenBelow(root, name, FILE_GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE,
                   nullptr, created);
}

CHandle OpenItself(const wchar_t* path, DWORD access, DWORD share) {
  return CHandle(::CreateFileW(WithoutTrailingBackslash(path), access, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

BOOL IsPlainFileBelow(HANDLE root, const wchar_t* name) {
  CHandle file;
  if (OpenBelow(root, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                FILE_NON_DIRECTORY_FILE, nullptr, &file))
    return FALSE;
  return IsSingleLinkFile(file.Get());
}

namespace {

// Sets one kind of information on the file open on file; 0 or the error.
DWORD SetInformation(HANDLE file, void* information, ULONG size, FILE_INFORMATION_CLASS kind) {
  auto set = Native<NtSetInformationFileFn>("NtSetInformationFile");
  if (!set) return ERROR_INVALID_FUNCTION;
  IO_STATUS_BLOCK status = {};
  NTSTATUS result = set(file, &status, information, size, kind);
  return result < 0 ? ToDosError(result) : 0;
}

}  // namespace

DWORD MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFORMATION disposition = {};
  disposition.DoDeleteFile = TRUE;
  return SetInformation(file, &disposition, sizeof(disposition), FileDispositionInformation);
}

DWORD MarkForDeletionIgnoringReadOnly(HANDLE file) {
  // The extended disposition (Windows 10 1809 on); older systems refuse the
  // class and the file stays.
  const FILE_INFORMATION_CLASS kDispositionEx = static_cast<FILE_INFORMATION_CLASS>(64);
  const ULONG kDelete = 0x1, kIgnoreReadOnly = 0x10;
  ULONG flags = kDelete | kIgnoreReadOnly;
  return SetInformation(file, &flags, sizeof(flags), kDispositionEx);
}

DWORD ForEachEntry(HANDLE directory, EntryVisitor visit, void* context) {
  auto query = Native<NtQueryDirectoryFileFn>("NtQueryDirectoryFile");
  if (!query) return ERROR_INVALID_FUNCTION;
  // Only what the system returned is read: zeroed once is enough.
  alignas(LONGLONG) BYTE buffer[2048] = {};
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK status = {};
    NTSTATUS result = query(directory, nullptr, nullptr, nullptr, &status, buffer, sizeof(buffer),
                            FileDirectoryInformation, FALSE, nullptr, restart);
    if (result == kNoMoreFiles) return 0;
    if (result < 0) return ToDosError(result);
    for (ULONG offset = 0;;) {
      auto* entry = reinterpret_cast<FILE_DIRECTORY_INFORMATION*>(buffer + offset);
      int length = static_cast<int>(entry->FileNameLength / sizeof(wchar_t));
      const wchar_t* name = entry->FileName;
      BOOL dots = (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
      if (!dots) {
        DWORD error = visit(context, directory, name, length, entry->FileAttributes);
        if (error) return error;
      }
      if (!entry->NextEntryOffset) break;
      offset += entry->NextEntryOffset;
    }
  }
}

BOOL IsFile(const BY_HANDLE_FILE_INFORMATION& identity, HANDLE file) {
  BY_HANDLE_FILE_INFORMATION other = {};
  return ::GetFileInformationByHandle(file, &other) && identity.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         identity.nFileIndexHigh == other.nFileIndexHigh && identity.nFileIndexLow == other.nFileIndexLow;
}

BOOL IsSameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION identity = {};
  return ::GetFileInformationByHandle(a, &identity) && IsFile(identity, b);
}

DWORD SetAttributes(HANDLE file, DWORD attributes) {
  // Zero times mean "unchanged" to the system.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attributes;
  return SetInformation(file, &basic, sizeof(basic), FileBasicInformation);
}
