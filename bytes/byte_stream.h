// The two small interfaces through which the portable package code reads and
// writes bytes, so the same code serves files, memory in tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

// Random-access bytes to read.
class CByteSource {
 public:
  virtual ~CByteSource() = default;
  // Length in bytes; 0 for an empty source or one that could not be opened.
  virtual std::uint64_t Size() const = 0;
  // Copies up to `length` bytes from `offset`; returns the bytes delivered,
  // fewer at the end, 0 at or past the end or on a read error.
  virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
};

// Bytes written in order, with a late patch of bytes already written.
class CByteSink {
 public:
  virtual ~CByteSink() = default;
  // Appends `length` bytes; false when they could not all be written.
  virtual bool Write(const void* data, std::size_t length) = 0;
  // Overwrites bytes already written at `offset`; false when the range was
  // not written yet or the write failed. The append position is unchanged.
  virtual bool Patch(std::uint64_t offset, const void* data, std::size_t length) = 0;
};

// Reads exactly `length` bytes at `offset`; false (buffer partly filled) when
// the source delivers fewer.
inline bool ReadExact(CByteSource& source, std::uint64_t offset, void* buffer, std::size_t length) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    std::size_t got = source.ReadAt(offset, out, length);
    if (got == 0) return false;
    out += got;
    offset += got;
    length -= got;
  }
  return true;
}
