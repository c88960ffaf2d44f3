#include "hardening/tree_removal.h"

#include <winternl.h>

#include "framework/cstring.h"
#include "hardening/handle_relative.h"
#include "hardening/held_path.h"
#include "hardening/reparse_point.h"

namespace {

// Deeper trees are left: each level costs a share of the stack.
const int kMaxDepth = 64;

DWORD RemoveTree(HANDLE directory, int depth);

// One entry's removal; its error is returned.
DWORD RemoveEntry(HANDLE directory, const wchar_t* name, int length, DWORD listed, int depth) {
  CString component(name, length);
  BOOL linked = (listed & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  BOOL folder = (listed & FILE_ATTRIBUTE_DIRECTORY) != 0 && !linked;
  CHandle entry;
  DWORD error = OpenBelow(directory, component,
                          DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | (folder ? FILE_LIST_DIRECTORY : 0),
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                          FILE_OPEN_FOR_BACKUP_INTENT, nullptr, &entry);
  if (error) return error;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(entry.Get(), &info)) return ::GetLastError();
  // What was opened must be what was listed: a link listed but opened as a
  // plain entry is the link's target, and a folder must not turn into one.
  if (((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) != linked ||
      ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != ((listed & FILE_ATTRIBUTE_DIRECTORY) != 0))
    return ERROR_ACCESS_DENIED;
  if (folder) error = RemoveTree(entry.Get(), depth + 1);
  if (!error && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
    error = SetAttributes(entry.Get(), (info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL);
  return error ? error : MarkForDeletion(entry.Get());
}

struct CTreeWalk {
  int depth;
  DWORD firstError;
};

// Goes on past an entry that stays (a file a process holds open): the rest
// still goes, and the first reason is kept.
DWORD VisitEntry(void* context, HANDLE directory, const wchar_t* name, int length, DWORD listed) {
  CTreeWalk* walk = static_cast<CTreeWalk*>(context);
  DWORD error = RemoveEntry(directory, name, length, listed, walk->depth);
  if (error && !walk->firstError) walk->firstError = error;
  return 0;
}

DWORD RemoveTree(HANDLE directory, int depth) {
  if (depth > kMaxDepth) return ERROR_FILENAME_EXCED_RANGE;
  CTreeWalk walk = {depth, 0};
  DWORD error = ForEachEntry(directory, VisitEntry, &walk);
  return walk.firstError ? walk.firstError : error;
}

// Deletes everything inside the directory open on directory (with list
// access), depth first; a read-only file loses that attribute first. Where
// the system opens a link's target when asked for the link itself (Wine),
// the link is left, and with it its folder. 0, or the first error met.
DWORD RemoveTreeBelow(HANDLE directory) { return RemoveTree(directory, 0); }

}  // namespace

DWORD RemoveHeldTree(CHandle* held, const wchar_t* openedBy) {
  DWORD error = RemoveTreeBelow(held->Get());
  CString path;
  if (!error) error = PathOfDirectory(held->Get(), openedBy, &path);
  BY_HANDLE_FILE_INFORMATION identity = {};
  if (!error && !::GetFileInformationByHandle(held->Get(), &identity)) error = ::GetLastError();
  // The hold itself keeps the directory from being removed: it ends here.
  held->Reset();
  if (error) return error;
  CHandle again = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!again.IsValid()) return ::GetLastError();
  return IsFile(identity, again.Get()) ? MarkForDeletion(again.Get()) : ERROR_ACCESS_DENIED;
}

DWORD RemoveTreeAt(const wchar_t* path) {
  CString bare = WithoutTrailingBackslash(path);
  DWORD attributes = ::GetFileAttributesW(bare);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLinkOnly(bare) ? 0 : ERROR_ALREADY_EXISTS;
  // A file is left for the creation to refuse.
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  // Without delete sharing: nobody renames it away or puts a link in its
  // place while it is emptied.
  CHandle directory = OpenItself(bare, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!directory.IsValid()) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(directory.Get(), &info)) return ::GetLastError();
  // Asked by name too: where the open resolved a link, only the name shows it.
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      IsReparsePoint(bare))
    return ERROR_ALREADY_EXISTS;
  DWORD error = RemoveTreeBelow(directory.Get());
  return error ? error : MarkForDeletion(directory.Get());
}
