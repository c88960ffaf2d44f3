// Views that change what a source shows without copying it: the first bytes of
// a file (an image without its old package), and a few bytes overlaid (a
// security entry cleared).
#pragma once

#include <cstdint>
#include <vector>

#include "bytes/byte_stream.h"

// Shows bytes [0, length) of `base`; `base` must outlive the view.
class CPrefixSource : public CByteSource {
 public:
  CPrefixSource(CByteSource& base, std::uint64_t length);
  std::uint64_t Size() const override { return length_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  CByteSource& base_;
  std::uint64_t length_;
};

// Shows `base` with some ranges replaced; `base` must outlive the view.
class CPatchedSource : public CByteSource {
 public:
  explicit CPatchedSource(CByteSource& base) : base_(base) {}
  // Replaces bytes from `offset` on; parts past the end of `base` are ignored.
  void Overlay(std::uint64_t offset, std::vector<std::uint8_t> bytes);
  std::uint64_t Size() const override { return base_.Size(); }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  struct CPatch {
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
  };
  CByteSource& base_;
  std::vector<CPatch> patches_;
};
