#include "tools/packfile/core/byte_views.h"

#include <algorithm>
#include <cstring>
#include <utility>

CPrefixSource::CPrefixSource(CByteSource& base, std::uint64_t length)
    : base_(base), length_(std::min(length, base.Size())) {}

std::size_t CPrefixSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= length_) return 0;
  std::size_t n = std::min<std::uint64_t>(length, length_ - offset);
  return base_.ReadAt(offset, buffer, n);
}

void CPatchedSource::Overlay(std::uint64_t offset, std::vector<std::uint8_t> bytes) {
  patches_.push_back(CPatch{offset, std::move(bytes)});
}

std::size_t CPatchedSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  std::size_t got = base_.ReadAt(offset, buffer, length);
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (const CPatch& patch : patches_) {
    std::uint64_t begin = std::max(offset, patch.offset);
    std::uint64_t end = std::min<std::uint64_t>(offset + got, patch.offset + patch.bytes.size());
    if (begin < end) {
      std::memcpy(out + (begin - offset), patch.bytes.data() + (begin - patch.offset), end - begin);
    }
  }
  return got;
}
