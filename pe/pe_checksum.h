// The PE CheckSum: the 16-bit one's-complement sum of the file's words, with
// the CheckSum field itself taken as zero, plus the file length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes/byte_stream.h"

// Sums a file fed in order, in pieces of any size, so that a package is summed
// while it is written.
class CPeChecksum {
 public:
  // `fieldOffset`: the file offset of the CheckSum field, whose 4 bytes count as 0.
  explicit CPeChecksum(std::uint64_t fieldOffset) : field_(fieldOffset) {}
  // Adds the next `length` bytes of the file.
  void Add(const void* data, std::size_t length);
  // The checksum of the bytes added so far, taken as the whole file.
  std::uint32_t Value() const;

 private:
  std::uint64_t field_;
  std::uint64_t offset_ = 0;
  std::uint64_t sum_ = 0;
};

// The checksum of a whole source; false when it could not be read to its end.
bool ComputePeChecksum(CByteSource& source, std::uint64_t fieldOffset, std::uint32_t* checksum);
