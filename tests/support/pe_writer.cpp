#include "tests/support/pe_writer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kPeOffset = 0x40;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kHeadersSize = 0x200;

template <typename T>
void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Fields at the same place in both optional header layouts.
void PutCommonOptionalFields(std::vector<std::uint8_t>& b, std::size_t o, const CPeImageShape& shape,
                             std::uint32_t rawSize) {
  b[o + 2] = 2;                                          // linker version 2.x
  Put<std::uint32_t>(b, o + 4, rawSize);                 // SizeOfCode
  Put<std::uint32_t>(b, o + 16, kSectionAlignment);      // AddressOfEntryPoint
  Put<std::uint32_t>(b, o + 20, kSectionAlignment);      // BaseOfCode
  Put<std::uint32_t>(b, o + 32, kSectionAlignment);
  Put<std::uint32_t>(b, o + 36, kFileAlignment);
  Put<std::uint16_t>(b, o + 40, 5);                      // OS version 5.0
  Put<std::uint16_t>(b, o + 48, 5);                      // subsystem version 5.0
  Put<std::uint32_t>(b, o + 56, kSectionAlignment + AlignUp(rawSize, kSectionAlignment));
  Put<std::uint32_t>(b, o + 60, kHeadersSize);
  Put<std::uint16_t>(b, o + 68, shape.subsystem);
  Put<std::uint16_t>(b, o + 70, 0x8000);                 // terminal-server aware
}

}  // namespace

std::vector<std::uint8_t> MakePeImage(const CPeImageShape& shape) {
  std::uint32_t fileSize = AlignUp(std::max<std::uint32_t>(shape.fileSize, 2 * kHeadersSize), kFileAlignment);
  std::uint32_t rawSize = fileSize - kHeadersSize;
  std::vector<std::uint8_t> b(fileSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put<std::uint32_t>(b, pe::kPeOffsetAt, kPeOffset);
  std::memcpy(b.data() + kPeOffset, "PE\0\0", 4);

  std::size_t f = kPeOffset + 4;
  std::uint16_t optionalSize = shape.pe32plus ? 240 : 224;
  Put<std::uint16_t>(b, f, shape.pe32plus ? kPeMachineAmd64 : kPeMachineI386);
  Put<std::uint16_t>(b, f + 2, 1);  // one section
  Put<std::uint16_t>(b, f + 16, optionalSize);
  // Executable, relocations stripped; 32-bit machine or large-address aware.
  Put<std::uint16_t>(b, f + 18, shape.pe32plus ? 0x0023 : 0x0103);

  std::size_t o = f + 20;
  Put<std::uint16_t>(b, o, shape.pe32plus ? pe::kPe32PlusMagic : pe::kPe32Magic);
  PutCommonOptionalFields(b, o, shape, rawSize);
  std::size_t directories;
  if (shape.pe32plus) {
    Put<std::uint64_t>(b, o + 24, 0x140000000ULL);
    Put<std::uint64_t>(b, o + 72, 0x100000);
    Put<std::uint64_t>(b, o + 80, 0x1000);
    Put<std::uint64_t>(b, o + 88, 0x100000);
    Put<std::uint64_t>(b, o + 96, 0x1000);
    Put<std::uint32_t>(b, o + 108, 16);
    directories = o + pe::kDirectoriesAtPe32Plus;
  } else {
    Put<std::uint32_t>(b, o + 28, 0x400000);
    Put<std::uint32_t>(b, o + 72, 0x100000);
    Put<std::uint32_t>(b, o + 76, 0x1000);
    Put<std::uint32_t>(b, o + 80, 0x100000);
    Put<std::uint32_t>(b, o + 84, 0x1000);
    Put<std::uint32_t>(b, o + 92, 16);
    directories = o + pe::kDirectoriesAtPe32;
  }
  if (shape.resourceSize != 0) {
    Put<std::uint32_t>(b, directories + 8 * kPeResourceDirectory, kSectionAlignment);
    Put<std::uint32_t>(b, directories + 8 * kPeResourceDirectory + 4, shape.resourceSize);
  }

  std::size_t s = o + optionalSize;
  std::memcpy(b.data() + s, ".text", 5);
  Put<std::uint32_t>(b, s + 8, rawSize);
  Put<std::uint32_t>(b, s + 12, kSectionAlignment);
  Put<std::uint32_t>(b, s + 16, rawSize);
  Put<std::uint32_t>(b, s + 20, kHeadersSize);
  Put<std::uint32_t>(b, s + 36, 0x60000020);  // code, executable, readable
  b[kHeadersSize] = 0xC3;                      // the entry point returns at once
  return b;
}
