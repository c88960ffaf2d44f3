#include "package/entry_file_name.h"

#include <string.h>

namespace {

wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

BOOL SameUpper(const wchar_t* name, int len, const wchar_t* device) {
  for (int i = 0; i < len; ++i) {
    if (device[i] == L'\0' || Upper(name[i]) != device[i]) return FALSE;
  }
  return device[len] == L'\0';
}

BOOL OnlyDotsAndBlanks(const wchar_t* name) {
  for (; *name; ++name) {
    if (*name != L'.' && *name != L' ') return FALSE;
  }
  return TRUE;
}

BOOL HasSeparator(const wchar_t* name) {
  for (; *name; ++name) {
    if (*name == L'\\' || *name == L'/' || *name == L':') return TRUE;
  }
  return FALSE;
}

// Windows refuses control characters in file names; shown as '?' so that a
// name with a line end cannot add a forged line to the log.
BOOL MaskControlCharacters(wchar_t* name) {
  BOOL found = FALSE;
  for (; *name; ++name) {
    if (*name < L' ') {
      *name = L'?';
      found = TRUE;
    }
  }
  return found;
}

// Windows opens these devices for a name whose part before the first dot,
// less trailing blanks, is one of them, wherever the path points.
BOOL IsDeviceName(const wchar_t* name) {
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  int len = 0;
  while (name[len] != L'\0' && name[len] != L'.') ++len;
  while (len > 0 && name[len - 1] == L' ') --len;
  for (const wchar_t* device : kDevices) {
    if (SameUpper(name, len, device)) return TRUE;
  }
  BOOL numbered = len == 4 && name[3] >= L'0' && name[3] <= L'9';
  return numbered && (SameUpper(name, 3, L"COM") || SameUpper(name, 3, L"LPT"));
}

}  // namespace

BOOL EntryFileName(const PACKFILE_HEADER& record, wchar_t (&name)[kEntryFileNameUnits]) {
  memset(name, 0, sizeof(name));
  const char* end = static_cast<const char*>(memchr(record.name, 0, kPackNameSize));
  int bytes = end ? static_cast<int>(end - record.name) : static_cast<int>(kPackNameSize);
  if (bytes > 0 &&
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, record.name, bytes, name, kEntryFileNameUnits - 1) == 0) {
    return FALSE;
  }
  // Checked after conversion: what the file system sees is the UTF-16 name,
  // and in double-byte code pages 0x5C may be the second byte of a letter.
  BOOL masked = MaskControlCharacters(name);
  if (!end || masked) return FALSE;
  return !OnlyDotsAndBlanks(name) && !HasSeparator(name) && !IsDeviceName(name);
}
