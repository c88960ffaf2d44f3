// The work directory: a folder this run creates, protected and held, and
// removes again. It lies in a folder every neighbour of the elevated
// launcher can write, so whatever is already at its name is never deleted,
// emptied or reused (unless it is certainly a launcher's own leftover): the
// directory goes beside it under a name nobody can foresee.
#pragma once

#include <windows.h>

#include "format/reading_rules.h"
#include "framework/cstring.h"
#include "framework/handle.h"

// The work directory's own name, and the prefix of the names it takes
// beside something in the way ("unpack." and eight hex digits).
constexpr wchar_t kWorkDirName[] = L"" UNPACK_WORK_DIR_NAME;
constexpr int kWorkDirSiblingUnits = static_cast<int>(kWorkDirSiblingLength);

// Why a work directory in parent (with its backslash) must not be used: too
// long for the 260-unit current directory with the longer of its names
// (ERROR_FILENAME_EXCED_RANGE), on another machine (a UNC path, or
// driveType DRIVE_REMOTE: ERROR_BAD_NETPATH), or no folder there at all
// (attributes as GetFileAttributesW gives them: ERROR_PATH_NOT_FOUND); 0
// when it may.
DWORD WorkParentRefusal(const wchar_t* parent, UINT driveType, DWORD attributes);

// TRUE when name is one the work directory takes beside something in the
// way: "unpack." and eight hex digits.
BOOL IsWorkDirSiblingName(const wchar_t* name);

// What composing the launch asks of the work directory; a test answers it
// in memory.
class CExtractedFiles {
 public:
  // TRUE when this run's extraction ran to its end and left name in the
  // held work directory as a plain file with one name.
  virtual BOOL HasExtracted(const wchar_t* name) const = 0;

 protected:
  ~CExtractedFiles() = default;
};

class CWorkDirectory {
 public:
  // Works in parent, which ends with a backslash; null or empty: the
  // temporary directory, or the Windows directory's Temp where that one
  // cannot serve (see WorkParentRefusal).
  explicit CWorkDirectory(const wchar_t* parent = nullptr);
  // Removes what Create made, unless Keep was called.
  ~CWorkDirectory();
  CWorkDirectory(const CWorkDirectory&) = delete;
  CWorkDirectory& operator=(const CWorkDirectory&) = delete;

  // The first call creates and holds the directory: parent\unpack\ when
  // nothing is there, otherwise a fresh sibling, each thing stepped around
  // or cleared logged as a file error line naming it. Every call returns
  // the path, with its backslash, also when the creation failed (its file
  // error line was logged, and Error says why).
  const CString& Create();
  // The path as Create gave it; empty before.
  const CString& Path() const { return m_strPath; }
  // TRUE while this run holds the directory it created.
  BOOL IsHeld() const { return m_hHeld.IsValid(); }
  // The held directory's handle; null while none is held.
  HANDLE Handle() const { return m_hHeld.Get(); }
  // Why no directory is held: the creation's error; 0 while held.
  DWORD Error() const { return m_dwError; }
  // Leaves the directory and its files in place when this object goes.
  void Keep() { m_bKeep = TRUE; }
  // Removes the held directory with everything in it, through the handle
  // (links inside are unlinked, never entered); what stays is logged. Does
  // nothing while none is held; the path is kept.
  void Remove();
  // The held directory's own path, from its handle (no link on it), with
  // its backslash; empty, with the reason in *error, when none.
  CString HeldPath(DWORD* error) const;
  // TRUE when path opens the directory this run holds.
  BOOL Opens(const wchar_t* path) const;

 private:
  // The folder to create in, with its backslash.
  CString ChooseParent() const;
  // Creates name in parent, held; 0 or the error.
  DWORD CreateNamed(const CString& parent, const wchar_t* name);
  // Creates a sibling of an unforeseeable name; 0 or the last error.
  DWORD CreateSibling(const CString& parent);
  // Clears the earlier siblings that are a launcher's own.
  void ClearOwnSiblings(const CString& parent) const;

  CString m_strParent;  // empty: chosen at creation
  CString m_strPath;
  CHandle m_hHeld;
  DWORD m_dwError = ERROR_PATH_NOT_FOUND;
  BOOL m_bKeep = FALSE;
};
