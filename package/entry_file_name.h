// The file name that an entry record asks for, checked so that it can only
// name a file directly inside the work directory.
#pragma once

#include <windows.h>

#include "format/packfile_header.h"

// Units for a converted name: each byte of the field gives at most one.
const int kEntryFileNameUnits = static_cast<int>(kPackNameSize) + 1;

// Converts the record's name, up to its first zero byte, from the calling
// thread's ANSI code page into name (always terminated, control characters
// shown as '?'). FALSE when the field has no zero byte or the result breaks
// the entry-name rules of format/reading_rules.h (empty, only dots and
// blanks, \ / : or a control character, a device name such as nul.txt or
// COM¹); name then still holds the conversion, for the error line.
BOOL EntryFileName(const PACKFILE_HEADER& record, wchar_t (&name)[kEntryFileNameUnits]);
