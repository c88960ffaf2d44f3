#include "hardening/tree_removal.h"

#include <winternl.h>

#include "framework/cstring.h"
#include "hardening/handle_relative.h"
#include "hardening/held_path.h"

namespace {

// Deeper trees are left: each level costs a share of the stack.
const int kMaxDepth = 64;

DWORD RemoveTree(HANDLE directory, int depth, BOOL probe);

// One entry's removal; its error is returned. A probe removes nothing: it
// opens the entry as the removal would, but without sharing deletion, so
// that an entry some process has open fails it.
DWORD RemoveEntry(HANDLE directory, const wchar_t* name, int length, DWORD listed, int depth, BOOL probe) {
  CString component(name, length);
  BOOL linked = (listed & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  BOOL folder = (listed & FILE_ATTRIBUTE_DIRECTORY) != 0 && !linked;
  CHandle entry;
  DWORD error = OpenBelow(directory, component,
                          DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | (folder ? FILE_LIST_DIRECTORY : 0),
                          FILE_SHARE_READ | FILE_SHARE_WRITE | (probe ? 0 : FILE_SHARE_DELETE), FILE_OPEN,
                          FILE_OPEN_FOR_BACKUP_INTENT, nullptr, &entry);
  if (error) return error;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(entry.Get(), &info)) return ::GetLastError();
  // What was opened must be what was listed: a link listed but opened as a
  // plain entry is the link's target, and a folder must not turn into one.
  if (((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) != linked ||
      ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != ((listed & FILE_ATTRIBUTE_DIRECTORY) != 0))
    return ERROR_ACCESS_DENIED;
  if (folder) error = RemoveTree(entry.Get(), depth + 1, probe);
  if (probe || error) return error;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    // The attributes belong to the file, not to the name: with a second name
    // elsewhere, clearing them here would change that outside file too.
    if (info.nNumberOfLinks > 1) return MarkForDeletionIgnoringReadOnly(entry.Get());
    error = SetAttributes(entry.Get(), (info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL);
  }
  return error ? error : MarkForDeletion(entry.Get());
}

struct CTreeWalk {
  int depth;
  BOOL probe;
  DWORD firstError;
};

// Goes on past an entry that stays (a file a process holds open): the rest
// still goes, and the first reason is kept.
DWORD VisitEntry(void* context, HANDLE directory, const wchar_t* name, int length, DWORD listed) {
  CTreeWalk* walk = static_cast<CTreeWalk*>(context);
  DWORD error = RemoveEntry(directory, name, length, listed, walk->depth, walk->probe);
  if (error && !walk->firstError) walk->firstError = error;
  return 0;
}

DWORD RemoveTree(HANDLE directory, int depth, BOOL probe) {
  if (depth > kMaxDepth) return ERROR_FILENAME_EXCED_RANGE;
  CTreeWalk walk = {depth, probe, 0};
  DWORD error = ForEachEntry(directory, VisitEntry, &walk);
  return walk.firstError ? walk.firstError : error;
}

// Deletes everything inside the directory open on directory (with list
// access), depth first; a read-only file with one name loses that attribute
// first, one with more is deleted as it is or left. Where
// the system opens a link's target when asked for the link itself (Wine),
// the link is left, and with it its folder. 0, or the first error met.
DWORD RemoveTreeBelow(HANDLE directory) { return RemoveTree(directory, 0, FALSE); }

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

DWORD RemoveWholeTree(HANDLE directory) {
  DWORD error = RemoveTree(directory, 0, TRUE);
  if (!error) error = RemoveTreeBelow(directory);
  return error ? error : MarkForDeletion(directory);
}
