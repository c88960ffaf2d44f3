// Where a PE/COFF image keeps what the PE reader and packfile read: the
// offsets of the headers and data directories. The launcher's locator keeps
// its own copy of the few it needs in format/reading_rules.h (header-only,
// built without the C++ library); format/package_reader.cpp checks at compile
// time that the two agree.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pe {

// The DOS header, whose int32 at byte 60 is the PE header's file offset.
constexpr std::size_t kDosHeaderBytes = 64;
constexpr std::size_t kPeOffsetAt = 60;
// After the PE offset: the signature (4) and the file header (20), then the
// optional header, which starts with its magic.
constexpr std::size_t kOptionalHeaderAt = 4 + 20;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Inside the optional header: the CheckSum field and the data directories.
constexpr std::size_t kCheckSumAt = 64;
constexpr std::size_t kDirectoriesAtPe32 = 96;
constexpr std::size_t kDirectoriesAtPe32Plus = 112;
constexpr std::size_t kDirectoryBytes = 8;  // address, then size
// Data directory indexes.
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kSecurityDirectory = 4;

}  // namespace pe
