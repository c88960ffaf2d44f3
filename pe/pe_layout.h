// Where a PE/COFF image keeps what the PE reader, the launcher's locator and
// packfile read: the offsets of the headers and data directories. Only the C
// integer headers: the launcher, built without the C++ library, compiles
// these same lines.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace pe {

// The DOS header, whose int32 at byte 60 is the PE header's file offset.
constexpr size_t kDosHeaderBytes = 64;
constexpr size_t kPeOffsetAt = 60;
// After the PE offset: the signature (4) and the file header (20), then the
// optional header, which starts with its magic.
constexpr size_t kOptionalHeaderAt = 4 + 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// Inside the optional header: the CheckSum field and the data directories.
constexpr size_t kCheckSumAt = 64;
constexpr size_t kDirectoriesAtPe32 = 96;
constexpr size_t kDirectoriesAtPe32Plus = 112;
constexpr size_t kDirectoryBytes = 8;  // address, then size
// Data directory indexes.
constexpr size_t kResourceDirectory = 2;
constexpr size_t kSecurityDirectory = 4;

}  // namespace pe
