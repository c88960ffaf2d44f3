// Holds a directory in place while the launcher works inside it by path. The
// parent folder belongs to the unelevated user, who could otherwise swap the
// directory for a link between our check and our use of the path.
#pragma once

#include <windows.h>

#include "framework/file_exception.h"
#include "framework/handle.h"

class CPinnedDirectory {
 public:
  CPinnedDirectory() = default;
  CPinnedDirectory(const CPinnedDirectory&) = delete;
  CPinnedDirectory& operator=(const CPinnedDirectory&) = delete;

  // Opens path (which may end with a backslash) so that it can be neither
  // renamed nor removed while held; files inside stay free to change. FALSE,
  // holding nothing, when path is no real directory: error then gets the
  // system's reason, or cause 5 (access denied) for a link or a file.
  BOOL Hold(const wchar_t* path, CFileException* error);
  // Lets the directory go, so that it can be removed.
  void Release() { m_hDirectory.Reset(); }

 private:
  CHandle m_hDirectory;
};
