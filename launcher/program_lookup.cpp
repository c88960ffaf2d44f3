#include "launcher/program_lookup.h"

namespace {

BOOL IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A part of a path made of dots and blanks only: ".", "..", ". ." all walk
// out of or onto a folder once the system has trimmed them.
BOOL IsDotsAndBlanks(const wchar_t* part, int length) {
  for (int k = 0; k < length; ++k)
    if (part[k] != L'.' && part[k] != L' ') return FALSE;
  return TRUE;
}

BOOL IsAbsolute(const wchar_t* name) {
  if (IsSeparator(name[0]) && IsSeparator(name[1])) return TRUE;  // UNC
  return name[0] && name[1] == L':' && IsSeparator(name[2]);
}

// The one file name a relative name reaches below the held directory: its
// parts less any ".". Empty when it reaches a subfolder (entries are never
// in one), leaves the folder or names none.
CString HeldFileName(const wchar_t* name) {
  CString last;
  int parts = 0;
  for (const wchar_t* part = name; *part;) {
    const wchar_t* end = part;
    while (*end && !IsSeparator(*end)) ++end;
    int length = static_cast<int>(end - part);
    if (length == 1 && part[0] == L'.') {
      // the folder itself
    } else if (length == 0 || IsDotsAndBlanks(part, length)) {
      return CString();
    } else {
      last = CString(part, length);
      ++parts;
    }
    part = *end ? end + 1 : end;
  }
  return parts == 1 ? last : CString();
}

// Tries name in folder (folderLength units, no trailing backslash; or the
// held directory when held), as given, then with each extension of pathExt.
BOOL FindIn(const CProgramPlaces& places, const wchar_t* folder, int folderLength, BOOL held, const wchar_t* name,
            CString* file) {
  const wchar_t* ext = nullptr;  // null: the name as given
  for (;;) {
    const wchar_t* end = ext;
    CString candidate(name);
    if (ext) {
      while (*end && *end != L';') ++end;
      candidate.Append(ext, static_cast<int>(end - ext));
    }
    CString path = held ? CString(places.heldDir) : CString(folder, folderLength) + L"\\";
    path += candidate;
    if (held ? places.extracted(places.context, candidate) : places.probe(places.context, path) == kPlainFile) {
      *file = path;
      return TRUE;
    }
    if (ext && !*end) return FALSE;
    ext = ext ? end + 1 : places.pathExt;
    if (!*ext) return FALSE;
  }
}

// Tries name in each absolute folder of list (';'-separated, quotes allowed).
BOOL FindInList(const CProgramPlaces& places, const wchar_t* list, const wchar_t* name, CString* file) {
  for (const wchar_t* folder = list; *folder;) {
    const wchar_t* end = folder;
    while (*end && *end != L';') ++end;
    const wchar_t* first = folder;
    const wchar_t* last = end;
    if (last - first >= 2 && *first == L'"' && last[-1] == L'"') ++first, --last;
    while (last > first && IsSeparator(last[-1])) --last;
    // A relative folder would be looked up from the current directory.
    CString entry(first, static_cast<int>(last - first));
    if (IsAbsolute(entry + L"\\") && FindIn(places, first, static_cast<int>(last - first), FALSE, name, file))
      return TRUE;
    folder = *end ? end + 1 : end;
  }
  return FALSE;
}

}  // namespace

BOOL FindProgram(const CProgramPlaces& places, const wchar_t* name, CString* file) {
  if (!name || IsDotsAndBlanks(name, ::lstrlenW(name))) return FALSE;
  if (IsAbsolute(name)) {
    wchar_t path[MAX_PATH] = {};
    if (::lstrlenW(name) >= MAX_PATH) return FALSE;
    for (int k = 0; name[k]; ++k) path[k] = name[k] == L'/' ? L'\\' : name[k];
    if (places.probe(places.context, path) == kOther) return FALSE;
    *file = path;
    return TRUE;
  }
  BOOL bare = TRUE;
  for (const wchar_t* c = name; *c; ++c) {
    if (*c == L':') return FALSE;  // C:x leans on a drive's current directory, or names a stream
    if (IsSeparator(*c)) bare = FALSE;
  }
  if (IsSeparator(name[0])) return FALSE;  // the current drive's root
  if (!bare) {
    CString held = HeldFileName(name);
    return !held.IsEmpty() && places.heldDir[0] && FindIn(places, nullptr, 0, TRUE, held, file);
  }
  if (places.heldDir[0] && FindIn(places, nullptr, 0, TRUE, name, file)) return TRUE;
  if (places.systemDir[0] && FindIn(places, places.systemDir, ::lstrlenW(places.systemDir), FALSE, name, file))
    return TRUE;
  if (places.windowsDir[0] && FindIn(places, places.windowsDir, ::lstrlenW(places.windowsDir), FALSE, name, file))
    return TRUE;
  return FindInList(places, places.machinePath, name, file);
}

BOOL IsExecutableFile(const wchar_t* path) {
  int length = ::lstrlenW(path);
  if (length < 4) return FALSE;
  const wchar_t* ext = path + length - 4;
  return ::lstrcmpiW(ext, L".exe") == 0 || ::lstrcmpiW(ext, L".com") == 0;
}
