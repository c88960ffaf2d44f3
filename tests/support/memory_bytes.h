// Byte sources and sinks over memory: tests, the fuzzer, and small headers.
#pragma once

#include <cstdint>
#include <vector>

#include "bytes/byte_stream.h"

// Reads from memory it does not own; the bytes must outlive the source.
class CMemorySource : public CByteSource {
 public:
  CMemorySource(const void* data, std::size_t size);
  explicit CMemorySource(const std::vector<std::uint8_t>& bytes);
  std::uint64_t Size() const override;
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// Collects everything written in a vector.
class CMemorySink : public CByteSink {
 public:
  bool Write(const void* data, std::size_t length) override;
  bool Patch(std::uint64_t offset, const void* data, std::size_t length) override;
  // The bytes written so far.
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};
