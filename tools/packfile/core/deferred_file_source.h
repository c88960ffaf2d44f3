// A file source that opens its file only when first read and closes it once
// read to the end, so a package of thousands of files never holds them all open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bytes/byte_stream.h"
#include "bytes/file_bytes.h"

class CDeferredFileSource : public CByteSource {
 public:
  // `size`: the length found when the inputs were collected; reads stop there.
  CDeferredFileSource(std::string path, std::uint64_t size) : path_(std::move(path)), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  // Delivers 0 when the file cannot be opened or has become shorter.
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  std::string path_;
  std::uint64_t size_;
  std::unique_ptr<CFileSource> file_;
};
