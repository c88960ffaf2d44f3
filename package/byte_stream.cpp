#include "package/byte_stream.h"

bool ReadExact(CByteSource& source, std::uint64_t offset, void* buffer, std::size_t length) {
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
