#include "pe/pe_checksum.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Adds bytes that start at file offset `offset` as little-endian words: an
// even offset is a low byte, an odd one a high byte.
std::uint64_t SumRun(const std::uint8_t* p, std::size_t length, std::uint64_t offset) {
  std::uint64_t sum = 0;
  std::size_t k = 0;
  if ((offset & 1) && length > 0) sum += std::uint64_t{p[k++]} << 8;
  // Eight bytes at a time: four words summed in two 32-bit lanes, emptied
  // before a lane can overflow.
  constexpr std::uint64_t kLanes = 0x0000FFFF0000FFFFull;
  while (length - k >= 8) {
    std::uint64_t lanes = 0;
    for (int n = 0; n < 16384 && length - k >= 8; ++n, k += 8) {
      std::uint64_t v;
      std::memcpy(&v, p + k, sizeof(v));
      lanes += (v & kLanes) + ((v >> 16) & kLanes);
    }
    sum += (lanes & 0xFFFFFFFF) + (lanes >> 32);
  }
  for (; k + 1 < length; k += 2) sum += p[k] | (std::uint64_t{p[k + 1]} << 8);
  if (k < length) sum += p[k];
  return sum;
}

}  // namespace

void CPeChecksum::Add(const void* data, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    std::size_t run = length;
    if (offset_ >= field_ && offset_ - field_ < 4) {
      // The field's own bytes count as zero.
      run = static_cast<std::size_t>(std::min<std::uint64_t>(run, field_ + 4 - offset_));
    } else {
      if (offset_ < field_) run = static_cast<std::size_t>(std::min<std::uint64_t>(run, field_ - offset_));
      sum_ += SumRun(p, run, offset_);
    }
    p += run;
    offset_ += run;
    length -= run;
  }
}

std::uint32_t CPeChecksum::Value() const {
  // Folding the carries at the end gives the same one's-complement sum as
  // folding after every word; 64 bits cannot overflow for any real file.
  std::uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  // The field is 32 bits: a file over 4 GiB adds its length modulo 2^32.
  return static_cast<std::uint32_t>(sum + offset_);
}

bool ComputePeChecksum(CByteSource& source, std::uint64_t fieldOffset, std::uint32_t* checksum) {
  CPeChecksum sum(fieldOffset);
  std::uint64_t size = source.Size();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size + 1, 1 << 20)));
  for (std::uint64_t offset = 0; offset < size;) {
    std::size_t got = source.ReadAt(offset, buffer.data(), buffer.size());
    if (got == 0) return false;
    sum.Add(buffer.data(), got);
    offset += got;
  }
  *checksum = sum.Value();
  return true;
}
