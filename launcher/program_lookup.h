// Finding the program of the program form as the system would find a name,
// but only in folders that an unelevated neighbour cannot write. The
// decision is made here from what the caller says exists; the caller probes
// the file system (the held work directory only through its handle).
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "package/work_directory.h"

enum { kNothing = 0, kPlainFile = 1, kOther = 2 };

// What a full path outside the work directory names: the launcher asks the
// file system, a test answers from memory.
class CPathProbe {
 public:
  // kNothing, kPlainFile, or kOther (a folder, a device).
  virtual int KindOf(const wchar_t* path) const = 0;

 protected:
  ~CPathProbe() = default;
};

struct CProgramPlaces {
  const wchar_t* heldDir = L"";     // the held work directory, with its backslash; "" when it may not be searched
  const wchar_t* systemDir = L"";   // without a backslash
  const wchar_t* windowsDir = L"";  // without a backslash
  const wchar_t* machinePath = L"";  // the machine's own PATH, expanded: folders separated by ';'
  const wchar_t* pathExt = L"";      // the machine's PATHEXT: ".COM;.EXE;..."
  const CExtractedFiles* extracted = nullptr;  // what this run extracted into heldDir
  const CPathProbe* probe = nullptr;           // what lies elsewhere
};

// The full path of the program named name. An absolute path (either slash)
// is taken as given, with backslashes, unless it is something other than a
// file (a missing one is left for the launch to fail on, as the system
// reports it). A name with a separator is taken below heldDir only,
// and a bare name in heldDir, systemDir, windowsDir and then each folder of
// machinePath; in each place as given, then with each PATHEXT extension. A
// name that leaves heldDir (..), is drive- or root-relative (C:x, \x), or is
// made of dots and blanks only is refused; so is one found nowhere as a
// plain file. FALSE when refused.
BOOL FindProgram(const CProgramPlaces& places, const wchar_t* name, CString* file);

// TRUE for a drive's root onwards or a UNC path (either slash): a path that
// no current directory completes.
BOOL IsAbsolutePath(const wchar_t* path);

// TRUE when path names a file the launcher starts itself (.exe or .com); any
// other file is opened through its type's machine association.
BOOL IsExecutableFile(const wchar_t* path);
