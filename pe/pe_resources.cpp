#include "pe/pe_resources.h"

#include <cstring>

namespace {

constexpr int kLevels = 3;              // type, name, language
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kMaxEntries = 4096;  // per directory, against hostile counts

class CResourceWalker {
 public:
  CResourceWalker(CByteSource& source, const CPeImage& image, std::uint64_t base, std::uint32_t size)
      : source_(source), image_(image), base_(base), size_(size) {}

  bool Walk(std::uint32_t offset, int level, std::uint32_t path[kLevels], std::vector<CPeResource>* out,
            std::string* error) {
    std::uint8_t header[16];
    if (!Read(offset, header, sizeof(header))) return Fail(error, "resource directory cut short");
    std::size_t count = static_cast<std::size_t>(Get16(header + 12)) + Get16(header + 14);
    if (count > kMaxEntries) return Fail(error, "resource directory with too many entries");
    for (std::size_t i = 0; i < count; ++i) {
      std::uint8_t entry[8];
      if (!Read(offset + 16 + static_cast<std::uint32_t>(8 * i), entry, sizeof(entry)))
        return Fail(error, "resource entry cut short");
      std::uint32_t name = Get32(entry), target = Get32(entry + 4);
      path[level] = (name & kHighBit) ? 0 : name;
      bool isDirectory = (target & kHighBit) != 0;
      if (isDirectory != (level < kLevels - 1)) return Fail(error, "resource tree of unexpected depth");
      if (isDirectory) {
        if (!Walk(target & ~kHighBit, level + 1, path, out, error)) return false;
      } else if (!Leaf(target, path, out, error)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Leaf(std::uint32_t offset, const std::uint32_t path[kLevels], std::vector<CPeResource>* out,
            std::string* error) {
    std::uint8_t data[16];
    if (!Read(offset, data, sizeof(data))) return Fail(error, "resource data entry cut short");
    CPeResource resource;
    resource.type = path[0];
    resource.id = path[1];
    resource.language = path[2];
    std::uint64_t fileOffset = 0;
    if (!PeRvaToFileOffset(image_, Get32(data), &fileOffset)) return Fail(error, "resource data outside the sections");
    // The size is the file's word: it must lie within the file before
    // anything is allocated for it.
    std::uint32_t length = Get32(data + 4);
    if (fileOffset > source_.Size() || length > source_.Size() - fileOffset)
      return Fail(error, "resource data cut short");
    resource.data.resize(length);
    if (!ReadExact(source_, fileOffset, resource.data.data(), resource.data.size()))
      return Fail(error, "resource data cut short");
    out->push_back(std::move(resource));
    return true;
  }

  bool Read(std::uint32_t offset, void* buffer, std::size_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    return ReadExact(source_, base_ + offset, buffer, length);
  }

  static bool Fail(std::string* error, const char* what) {
    *error = what;
    return false;
  }
  static std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
  static std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }

  CByteSource& source_;
  const CPeImage& image_;
  std::uint64_t base_;
  std::uint32_t size_;
};

}  // namespace

bool ReadPeResources(CByteSource& source, const CPeImage& image, std::vector<CPeResource>* resources,
                     std::string* error) {
  resources->clear();
  CPeDataDirectory directory = PeDirectory(image, kPeResourceDirectory);
  if (directory.virtualAddress == 0 || directory.size == 0) return true;
  std::uint64_t base = 0;
  if (!PeRvaToFileOffset(image, directory.virtualAddress, &base)) {
    *error = "resource directory outside the sections";
    return false;
  }
  std::uint32_t path[kLevels] = {};
  return CResourceWalker(source, image, base, directory.size).Walk(0, 0, path, resources, error);
}

std::vector<const CPeResource*> FindPeResources(const std::vector<CPeResource>& resources, std::uint32_t type,
                                                std::uint32_t id) {
  std::vector<const CPeResource*> found;
  for (const CPeResource& r : resources)
    if (r.type == type && r.id == id) found.push_back(&r);
  return found;
}

bool FindPeString(const std::vector<CPeResource>& resources, std::uint32_t id, std::u16string* text,
                  std::uint32_t* language) {
  // Strings live in blocks of 16; block n + 1 holds IDs 16n to 16n + 15, each
  // a 16-bit length followed by that many UTF-16 units.
  for (const CPeResource* block : FindPeResources(resources, kRtString, id / 16 + 1)) {
    std::size_t at = 0;
    for (std::uint32_t index = 0; index <= id % 16; ++index) {
      if (at + 2 > block->data.size()) return false;
      std::size_t length = block->data[at] | (block->data[at + 1] << 8);
      at += 2;
      if (at + 2 * length > block->data.size()) return false;
      if (index == id % 16) {
        if (length == 0) break;  // not defined in this block
        text->resize(length);
        std::memcpy(&(*text)[0], block->data.data() + at, 2 * length);
        *language = block->language;
        return true;
      }
      at += 2 * length;
    }
  }
  return false;
}
