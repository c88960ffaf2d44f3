#include "tests/support/memory_bytes.h"

#include <algorithm>
#include <cstring>

CMemorySource::CMemorySource(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

CMemorySource::CMemorySource(const std::vector<std::uint8_t>& bytes)
    : CMemorySource(bytes.data(), bytes.size()) {}

std::uint64_t CMemorySource::Size() const { return size_; }

std::size_t CMemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= size_) return 0;
  std::size_t n = std::min<std::uint64_t>(length, size_ - offset);
  if (n > 0) std::memcpy(buffer, data_ + offset, n);
  return n;
}

bool CMemorySink::Write(const void* data, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + length);
  return true;
}

bool CMemorySink::Patch(std::uint64_t offset, const void* data, std::size_t length) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length > 0) std::memcpy(bytes_.data() + offset, data, length);
  return true;
}
