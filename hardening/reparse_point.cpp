#include "hardening/reparse_point.h"

#include "framework/handle.h"

CString WithoutTrailingBackslash(const wchar_t* path) {
  CString bare(path);
  int len = bare.GetLength();
  if (len > 1 && bare[len - 1] == L'\\') return CString(bare.GetString(), len - 1);
  return bare;
}

BOOL IsReparsePoint(const wchar_t* path) {
  DWORD attributes = ::GetFileAttributesW(WithoutTrailingBackslash(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

BOOL RemoveLinkOnly(const wchar_t* path) {
  CString bare = WithoutTrailingBackslash(path);
  if (!IsReparsePoint(bare)) return FALSE;
  BY_HANDLE_FILE_INFORMATION info = {};
  {
    CHandle link(::CreateFileW(bare, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr));
    if (!link.IsValid() || !::GetFileInformationByHandle(link.Get(), &info)) return FALSE;
  }
  // Some systems (Wine among them) report a link by its attributes but open
  // its target even when asked for the link; they would delete the target.
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return FALSE;
  // Both calls act on a link itself: a directory link loses only the link,
  // and a file link is deleted without its target.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ::RemoveDirectoryW(bare);
  return ::DeleteFileW(bare);
}
