#include "package/entry_file_name.h"

#include <string.h>

#include "format/reading_rules.h"

namespace {

// Control characters, which the rules refuse, are shown as '?' so that a
// name with a line end cannot add a forged line to the log.
void MaskControlCharacters(wchar_t* name) {
  for (; *name; ++name) {
    if (*name < L' ') *name = L'?';
  }
}

}  // namespace

BOOL EntryFileName(const PACKFILE_HEADER& record, wchar_t (&name)[kEntryFileNameUnits]) {
  memset(name, 0, sizeof(name));
  const int bytes = static_cast<int>(RecordNameLength(record));
  const bool terminated = bytes < static_cast<int>(kPackNameSize);
  if (bytes > 0 &&
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, record.name, bytes, name, kEntryFileNameUnits - 1) == 0) {
    return FALSE;
  }
  // Checked after conversion: what the file system sees is the UTF-16 name,
  // and in double-byte code pages 0x5C may be the second byte of a letter.
  BOOL allowed =
      terminated && CheckEntryNameRules(name, static_cast<size_t>(::lstrlenW(name))) == EntryNameFault::kNone;
  MaskControlCharacters(name);
  return allowed;
}
