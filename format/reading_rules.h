// How a launcher reads a package: where it finds the stub header, what ends
// its walk over the records, and which entry names it writes. The launcher
// and packfile compile these same lines, so what packfile reports is what a
// launcher does. Header-only and allocation-free: the launcher builds without
// the C++ standard headers, so only the C integer headers and the record.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "format/packfile_header.h"
#include "pe/pe_layout.h"

// --- Where the locator reads in the PE headers ---------------------------

// Where the security entry's Size lies after the PE offset: byte 156 in a
// PE32 image, 172 in a PE32+ one. Any magic but PE32+ is read as PE32.
constexpr size_t kSecuritySizeAtPe32 =
    pe::kOptionalHeaderAt + pe::kDirectoriesAtPe32 + pe::kSecurityDirectory * pe::kDirectoryBytes + 4;
constexpr size_t kSecuritySizeAtPe32Plus =
    pe::kOptionalHeaderAt + pe::kDirectoriesAtPe32Plus + pe::kSecurityDirectory * pe::kDirectoryBytes + 4;
// What the locator reads at the PE offset: enough for either layout's entry
// (signature, file header and the larger, PE32+, optional header: 264 bytes).
constexpr size_t kPeHeaderBytes = pe::kOptionalHeaderAt + 240;
static_assert(kSecuritySizeAtPe32 == 156 && kSecuritySizeAtPe32Plus == 172 && kPeHeaderBytes == 264,
              "the offsets the locator has always read");
static_assert(kSecuritySizeAtPe32Plus + 4 <= kPeHeaderBytes, "the read covers the PE32+ security entry");

inline uint16_t LoadU16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

inline int32_t LoadI32(const uint8_t* bytes) {
  return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                              static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

inline int32_t PeOffset(const uint8_t (&dos)[pe::kDosHeaderBytes]) { return LoadI32(dos + pe::kPeOffsetAt); }

// Widened with its sign and compared unsigned: a negative offset compares as
// huge and is refused, as is one beyond the file.
inline bool PeOffsetInFile(int32_t peOffset, uint64_t fileLength) {
  return static_cast<uint64_t>(static_cast<int64_t>(peOffset)) <= fileLength;
}

inline uint16_t OptionalMagic(const uint8_t (&headers)[kPeHeaderBytes]) {
  return LoadU16(headers + pe::kOptionalHeaderAt);
}

inline size_t SecuritySizeAt(uint16_t magic) {
  return magic == pe::kPe32PlusMagic ? kSecuritySizeAtPe32Plus : kSecuritySizeAtPe32;
}

// The certificate table's length as the locator takes it.
inline int32_t SecuritySize(const uint8_t (&headers)[kPeHeaderBytes]) {
  return LoadI32(headers + SecuritySizeAt(OptionalMagic(headers)));
}

// Bytes from the stub header's start to the end of the file: the record and
// the certificate table after it (a size of 0 or less is no table). A tail
// longer than the file puts the stub header before its start: no package.
inline uint64_t StubTail(int32_t certificateSize) {
  return kPackHeaderSize + (certificateSize > 0 ? static_cast<uint64_t>(certificateSize) : 0);
}

// --- The work directory ------------------------------------------------------

// Its name in the temporary folder; beside something in the way a run takes
// the name, a dot and eight hex digits instead.
#define UNPACK_WORK_DIR_NAME "unpack"
constexpr size_t kWorkDirSiblingDigits = 8;
// The longer name: "unpack", the dot and the digits.
constexpr size_t kWorkDirSiblingLength = sizeof(UNPACK_WORK_DIR_NAME) - 1 + 1 + kWorkDirSiblingDigits;
// A typical machine's temporary folder, which packfile measures entry names
// against: the longer work directory in it plus a name must stay within the
// 259 units of a path.
#define UNPACK_TYPICAL_TEMP "C:\\Users\\Administrator\\AppData\\Local\\Temp\\"
constexpr size_t kTypicalWorkDirLength = sizeof(UNPACK_TYPICAL_TEMP) - 1 + kWorkDirSiblingLength + 1;

// The entry the launcher runs when started without arguments.
#define UNPACK_BATCH_FILE_NAME "run.bat"

// --- The walk ----------------------------------------------------------------

// What a record read does to the walk. Every step but kEntry ends it.
enum class WalkStep {
  kEntry,        // write (or skip) this entry, then read the next record
  kEndOfFile,    // the read delivered nothing
  kShortRecord,  // the file ended inside the record: completing it with the
                 // previous record's bytes would write a wrong file
  kCount,        // the entries written so far reach the record's count (the
                 // stub header's 0, the filler's -1)
};

// The step for a record of which `got` bytes were read, after `written`
// entries were written.
inline WalkStep NextWalkStep(size_t got, const PACKFILE_HEADER& record, int64_t written) {
  if (got == 0) return WalkStep::kEndOfFile;
  if (got < kPackHeaderSize) return WalkStep::kShortRecord;
  if (written >= record.count) return WalkStep::kCount;
  return WalkStep::kEntry;
}

// --- Entry names -------------------------------------------------------------

// Why a name cannot be written as a file directly inside the work directory.
enum class EntryNameFault {
  kNone,
  kEmpty,
  kSeparator,         // \ / or :
  kControlCharacter,  // below U+0020
  kDotsAndBlanks,     // only dots and blanks: ".", "..", " . "
  kDeviceName,        // CON, nul.txt, COM0, LPT¹ ...
};

// Code units as unsigned numbers, so that a Windows-1252 byte and the UTF-16
// unit it converts to compare alike (0xB9 is U+00B9, superscript one).
inline uint32_t NameUnit(char c) { return static_cast<unsigned char>(c); }
inline uint32_t NameUnit(wchar_t c) { return static_cast<uint32_t>(c); }

inline uint32_t NameUpper(uint32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

template <typename Char>
bool NameIs(const Char* name, size_t length, const char* device) {
  size_t k = 0;
  for (; k < length; ++k) {
    if (device[k] == '\0' || NameUpper(NameUnit(name[k])) != static_cast<unsigned char>(device[k])) return false;
  }
  return device[k] == '\0';
}

// Windows opens a device for a name whose part before the first dot, less
// trailing blanks, is a device name, in any case, wherever the path points:
// CON, PRN, AUX, NUL, CONIN$, CONOUT$, and COM or LPT followed by a digit or
// a superscript one, two or three.
template <typename Char>
bool IsDeviceName(const Char* name, size_t length) {
  size_t base = 0;
  while (base < length && NameUnit(name[base]) != '.') ++base;
  while (base > 0 && NameUnit(name[base - 1]) == ' ') --base;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (NameIs(name, base, device)) return true;
  }
  if (base != 4 || !(NameIs(name, 3, "COM") || NameIs(name, 3, "LPT"))) return false;
  uint32_t last = NameUnit(name[3]);
  return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

// The first reason, if any, why `name` (`length` units, any zero unit
// included) is no bare file name.
template <typename Char>
EntryNameFault CheckEntryNameRules(const Char* name, size_t length) {
  if (length == 0) return EntryNameFault::kEmpty;
  bool dotsAndBlanks = true;
  for (size_t k = 0; k < length; ++k) {
    uint32_t c = NameUnit(name[k]);
    if (c == '\\' || c == '/' || c == ':') return EntryNameFault::kSeparator;
    if (c < 0x20) return EntryNameFault::kControlCharacter;
    if (c != '.' && c != ' ') dotsAndBlanks = false;
  }
  if (dotsAndBlanks) return EntryNameFault::kDotsAndBlanks;
  if (IsDeviceName(name, length)) return EntryNameFault::kDeviceName;
  return EntryNameFault::kNone;
}

// The length of the name a file gets when it is opened by name: the system
// drops trailing dots and blanks from the last part of a path, so "run.bat."
// and "run.bat " are opened as "run.bat". The launcher creates the file under
// that name, as any other program opening the entry by name would find it.
// A name of only dots and blanks is refused before this applies.
template <typename Char>
size_t CreatedNameLength(const Char* name, size_t length) {
  while (length > 0 && (NameUnit(name[length - 1]) == '.' || NameUnit(name[length - 1]) == ' ')) --length;
  return length;
}

// Whether a name holds a character the system reserves for wildcards,
// redirection or quoting: it creates no file under such a name.
template <typename Char>
bool HasReservedNameUnit(const Char* name, size_t length) {
  for (size_t k = 0; k < length; ++k) {
    for (const char* reserved = "<>\"|?*"; *reserved != '\0'; ++reserved) {
      if (NameUnit(name[k]) == static_cast<unsigned char>(*reserved)) return true;
    }
  }
  return false;
}

// Bytes of the record's name before its terminator; kPackNameSize when the
// field has none, which the launcher refuses.
inline size_t RecordNameLength(const PACKFILE_HEADER& record) {
  size_t length = 0;
  while (length < kPackNameSize && record.name[length] != '\0') ++length;
  return length;
}
