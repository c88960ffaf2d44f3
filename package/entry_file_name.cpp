#include "package/entry_file_name.h"

#include <string.h>

#include "format/reading_rules.h"

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
  return terminated && CheckEntryNameRules(name, static_cast<size_t>(::lstrlenW(name))) == EntryNameFault::kNone;
}
