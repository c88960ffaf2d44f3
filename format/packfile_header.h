// The package entry record. Portable: shared by the launcher's extractor,
// the packfile tool and the tests, so it must never include windows.h.
#pragma once

// C headers, not <cstddef>/<cstdint>: the launcher's code builds without the
// C++ standard headers.
#include <stddef.h>
#include <stdint.h>

// Length of the name field, terminator included.
constexpr size_t kPackNameSize = 260;

#pragma pack(push, 1)
// One record precedes each entry's data; the same record, with count 0 and
// sequence 1, closes the package as the stub header. All numbers are
// little-endian (every target we build for is little-endian, checked below).
struct PACKFILE_HEADER {
  int32_t count;            // entries in the package (0 in the stub header)
  uint32_t sequence;        // 2, 3, ... for entries; 1 for the stub header
  uint64_t size;            // entry data length; stub: offset of the first record
  uint64_t total;           // running sum of size; stub: equals size
  char name[kPackNameSize]; // ANSI name, zero-terminated and zero-filled
};
#pragma pack(pop)

constexpr size_t kPackHeaderSize = 284;

static_assert(sizeof(PACKFILE_HEADER) == kPackHeaderSize, "record is 284 bytes");
static_assert(offsetof(PACKFILE_HEADER, count) == 0, "count at 0");
static_assert(offsetof(PACKFILE_HEADER, sequence) == 4, "sequence at 4");
static_assert(offsetof(PACKFILE_HEADER, size) == 8, "size at 8");
static_assert(offsetof(PACKFILE_HEADER, total) == 16, "total at 16");
static_assert(offsetof(PACKFILE_HEADER, name) == 24, "name at 24");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the package layout is read and written in host byte order"
#endif
