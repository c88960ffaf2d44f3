#include "launcher/program_lookup.h"

#include "hardening/child_environment.h"

namespace {

BOOL IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A part of a path made of dots and blanks only: ".", "..", ". ." all walk
// out of or onto a folder once the system has trimmed them.
BOOL IsDotsAndBlanks(const wchar_t* part, int length) {
  for (int k = 0; k < length; ++k)
    if (part[k] != L'.' && part[k] != L' ') return FALSE;
  return TRUE;
}

// The one file name a relative name reaches below the held directory: its
// parts less any ".". FALSE when it reaches a subfolder (entries are never
// in one), leaves the folder or names none.
BOOL HeldFileName(const wchar_t* relative, wchar_t (&name)[MAX_PATH]) {
  int parts = 0;
  for (const wchar_t* part = relative; *part;) {
    const wchar_t* end = part;
    while (*end && !IsSeparator(*end)) ++end;
    int length = static_cast<int>(end - part);
    if (length != 1 || *part != L'.') {
      if (length == 0 || length >= MAX_PATH || IsDotsAndBlanks(part, length) || ++parts > 1) return FALSE;
      ::lstrcpynW(name, part, length + 1);
    }
    part = *end ? end + 1 : end;
  }
  return parts == 1;
}

// Tries name in folder (folderLength units, with its backslash when held,
// the held directory; else without), as given, then with each extension
// of pathExt.
BOOL FindIn(const CProgramPlaces& places, const wchar_t* folder, int folderLength, BOOL held, const wchar_t* name,
            CString* file) {
  wchar_t path[MAX_PATH] = {};
  const int nameAt = folderLength + (held ? 0 : 1);
  const int end = nameAt + ::lstrlenW(name);
  if (end >= MAX_PATH) return FALSE;
  ::lstrcpynW(path, folder, folderLength + 1);
  path[folderLength] = L'\\';
  ::lstrcpynW(path + nameAt, name, MAX_PATH - nameAt);
  for (const wchar_t* ext = nullptr;;) {
    int extLength = 0;
    while (ext && ext[extLength] && ext[extLength] != L';') ++extLength;
    if (end + extLength < MAX_PATH) {
      ::lstrcpynW(path + end, ext ? ext : L"", extLength + 1);
      if (held ? places.extracted && places.extracted->HasExtracted(path + nameAt)
               : places.probe && places.probe->KindOf(path) == kPlainFile) {
        *file = path;
        return TRUE;
      }
    }
    if (ext && !ext[extLength]) return FALSE;
    ext = ext ? ext + extLength + 1 : places.pathExt;
    if (!*ext) return FALSE;
  }
}

// Tries name in each absolute folder of list (';'-separated, quotes allowed).
BOOL FindInList(const CProgramPlaces& places, const wchar_t* list, const wchar_t* name, CString* file) {
  const wchar_t *first = nullptr, *last = nullptr;
  while (NextListPart(&list, &first, &last)) {
    CString entry = ListFolder(first, last);
    // A relative folder, drive-relative ones too, would be looked up from a
    // current directory.
    if (IsAbsolutePath(entry) && FindIn(places, entry, entry.GetLength(), FALSE, name, file)) return TRUE;
  }
  return FALSE;
}

}  // namespace

BOOL FindProgram(const CProgramPlaces& places, const wchar_t* name, CString* file) {
  if (IsDotsAndBlanks(name, ::lstrlenW(name))) return FALSE;
  if (IsAbsolutePath(name)) {
    // Written with backslashes: a child that reads its own command line
    // (the interpreter does) would take a forward slash for a switch.
    wchar_t path[MAX_PATH] = {};
    if (::lstrlenW(name) >= MAX_PATH) return FALSE;
    for (int k = 0; name[k]; ++k) path[k] = IsSeparator(name[k]) ? L'\\' : name[k];
    if (places.probe && places.probe->KindOf(path) == kOther) return FALSE;
    *file = path;
    return TRUE;
  }
  BOOL bare = TRUE;
  for (const wchar_t* c = name; *c; ++c) {
    if (*c == L':') return FALSE;  // C:x leans on a drive's current directory, or names a stream
    if (IsSeparator(*c)) bare = FALSE;
  }
  if (IsSeparator(name[0])) return FALSE;  // the current drive's root
  wchar_t held[MAX_PATH] = {};
  const int heldLength = ::lstrlenW(places.heldDir);
  if (!bare) return heldLength && HeldFileName(name, held) && FindIn(places, places.heldDir, heldLength, TRUE, held, file);
  if (heldLength && FindIn(places, places.heldDir, heldLength, TRUE, name, file)) return TRUE;
  if (places.systemDir[0] && FindIn(places, places.systemDir, ::lstrlenW(places.systemDir), FALSE, name, file))
    return TRUE;
  if (places.windowsDir[0] && FindIn(places, places.windowsDir, ::lstrlenW(places.windowsDir), FALSE, name, file))
    return TRUE;
  return FindInList(places, places.machinePath, name, file);
}

BOOL IsAbsolutePath(const wchar_t* path) {
  if (IsSeparator(path[0]) && IsSeparator(path[1])) return TRUE;  // UNC
  return path[0] && path[1] == L':' && IsSeparator(path[2]);
}

BOOL IsExecutableFile(const wchar_t* path) {
  int length = ::lstrlenW(path);
  if (length < 4) return FALSE;
  const wchar_t* ext = path + length - 4;
  return ::lstrcmpiW(ext, L".exe") == 0 || ::lstrcmpiW(ext, L".com") == 0;
}
