#include "hardening/pinned_directory.h"

#include "hardening/reparse_point.h"

BOOL CPinnedDirectory::Hold(const wchar_t* path, CFileException* error) {
  Release();
  CString bare = WithoutTrailingBackslash(path);
  // No FILE_SHARE_DELETE: a rename or removal needs that sharing. Sharing
  // binds others only while the handle has data access, hence the listing
  // right: a handle for attributes alone would pin nothing.
  CHandle directory(::CreateFileW(bare, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
  if (!directory.IsValid()) {
    if (error) error->SetOsError(static_cast<LONG>(::GetLastError()), path);
    return FALSE;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  BOOL isDirectory = ::GetFileInformationByHandle(directory.Get(), &info) &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  // Asked by name as well: where the open resolved a link, the handle shows
  // the target, but the name still shows the link. Once held, the name
  // cannot change, so the answer stays true.
  if (!isDirectory || IsReparsePoint(bare)) {
    if (error) error->SetCause(CFileException::AccessDenied, path);
    return FALSE;
  }
  m_hDirectory = static_cast<CHandle&&>(directory);
  return TRUE;
}
