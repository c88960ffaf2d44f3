#include "tests/support/pe_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

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

void PutUtf16(std::vector<std::uint8_t>& b, const std::u16string& text) {
  for (char16_t unit : text + u'\0') {
    b.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    b.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
}

void Pad4(std::vector<std::uint8_t>& b) {
  while (b.size() % 4 != 0) b.push_back(0);
}

// One node of a version block: lengths, type, key, then `value` (already laid
// out) and the children, each 4-byte aligned; its length patched at the end.
std::vector<std::uint8_t> VersionNode(const std::u16string& key, const std::vector<std::uint8_t>& value,
                                      std::uint16_t valueLength, bool text,
                                      const std::vector<std::vector<std::uint8_t>>& children) {
  std::vector<std::uint8_t> b(6, 0);
  Put<std::uint16_t>(b, 2, valueLength);
  Put<std::uint16_t>(b, 4, text ? 1 : 0);
  PutUtf16(b, key);
  Pad4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const auto& child : children) {
    Pad4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  Put<std::uint16_t>(b, 0, static_cast<std::uint16_t>(b.size()));
  return b;
}

std::vector<std::uint8_t> StringNode(const std::u16string& key, const std::u16string& value) {
  std::vector<std::uint8_t> text;
  PutUtf16(text, value);
  return VersionNode(key, text, static_cast<std::uint16_t>(value.size() + 1), true, {});
}

// VS_VERSIONINFO with the fixed part (version 2.0.9.1) and the strings
// packfile reads: the product's name and the launcher's original file name.
std::vector<std::uint8_t> VersionBlock() {
  std::vector<std::uint8_t> fixed(52, 0);
  Put<std::uint32_t>(fixed, 0, 0xFEEF04BD);
  Put<std::uint32_t>(fixed, 4, 0x00010000);
  Put<std::uint32_t>(fixed, 8, 0x00020000);   // 2.0
  Put<std::uint32_t>(fixed, 12, 0x00090001);  // .9.1
  std::vector<std::uint8_t> table =
      VersionNode(u"040904b0", {}, 0, true,
                  {StringNode(u"ProductName", u"Quillon\u00AE Vantor"), StringNode(u"OriginalFilename", u"UnPackFile.exe")});
  std::vector<std::uint8_t> strings = VersionNode(u"StringFileInfo", {}, 0, true, {table});
  return VersionNode(u"VS_VERSION_INFO", fixed, 52, false, {strings});
}

// A resource tree of one leaf, type 16 / id 1 / language 1033, laid at `rva`
// and followed by the block; returns the tree's size.
std::uint32_t PutVersionResource(std::vector<std::uint8_t>& b, std::size_t offset, std::uint32_t rva) {
  std::vector<std::uint8_t> block = VersionBlock();
  constexpr std::uint32_t kLevel = 24, kTree = 3 * kLevel + 16;
  std::vector<std::uint8_t> tree(kTree, 0);
  const std::uint32_t names[] = {16, 1, 1033};
  for (std::uint32_t level = 0; level < 3; ++level) {
    std::size_t at = level * kLevel;
    Put<std::uint16_t>(tree, at + 14, 1);  // one entry with an id
    Put<std::uint32_t>(tree, at + 16, names[level]);
    Put<std::uint32_t>(tree, at + 20, level < 2 ? 0x80000000u | (at + kLevel) : at + kLevel);
  }
  Put<std::uint32_t>(tree, 3 * kLevel, rva + kTree);
  Put<std::uint32_t>(tree, 3 * kLevel + 4, static_cast<std::uint32_t>(block.size()));
  tree.insert(tree.end(), block.begin(), block.end());
  std::memcpy(b.data() + offset, tree.data(), tree.size());
  return kTree;
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
  // The version block follows the code's one byte; a given resource size
  // stands in the entry whatever the tree's own size.
  constexpr std::uint32_t kResourcesAt = 0x10;
  std::uint32_t resourceSize = shape.resourceSize;
  if (shape.versionBlock) {
    std::uint32_t tree = PutVersionResource(b, kHeadersSize + kResourcesAt, kSectionAlignment + kResourcesAt);
    if (resourceSize == 0) resourceSize = tree;
  }
  if (resourceSize != 0) {
    Put<std::uint32_t>(b, directories + 8 * kPeResourceDirectory,
                       kSectionAlignment + (shape.versionBlock ? kResourcesAt : 0));
    Put<std::uint32_t>(b, directories + 8 * kPeResourceDirectory + 4, resourceSize);
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
