// The package's records and the filler rule: the one place that knows how a
// record is filled in and how long the filler before the stub header is.
#pragma once

#include <cstdint>
#include <string>

#include "format/packfile_header.h"

// The filler byte: four of them read as a count of -1, which stops the walk.
constexpr std::uint8_t kFillerByte = 0xFF;

// Filler length for a package whose last entry's data ends at `end`: the stub
// header then ends on a multiple of 8, and the filler is never 1 to 3 bytes.
std::uint64_t FillerLength(std::uint64_t end);

// An entry record; `name` (Windows-1252, under 260 bytes, longer is cut) is
// zero-terminated and zero-filled.
PACKFILE_HEADER MakeEntryRecord(std::int32_t count, std::uint32_t sequence, std::uint64_t size,
                                std::uint64_t total, const std::string& name);

// The stub header that closes a package whose first record is at `headerOffset`.
PACKFILE_HEADER MakeStubRecord(std::uint64_t headerOffset, const std::string& launcherName);

// A record decoded from 284 bytes as they stand in the file.
PACKFILE_HEADER DecodeRecord(const std::uint8_t* bytes);

// The record's `name` up to its first zero byte (all 260 bytes if it has none).
std::string RecordName(const PACKFILE_HEADER& record);

// True when `name` has a zero byte within its field.
bool RecordNameTerminated(const PACKFILE_HEADER& record);

// True when every byte after the terminator is zero (false without one).
bool RecordNameZeroFilled(const PACKFILE_HEADER& record);
