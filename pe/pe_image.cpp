#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kMaxDirectories = 16;

template <typename T>
T Get(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

bool Fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

void ReadOptionalHeader(const std::vector<std::uint8_t>& h, std::size_t o, CPeImage* image) {
  image->majorLinkerVersion = h[o + 2];
  image->minorLinkerVersion = h[o + 3];
  image->addressOfEntryPoint = Get<std::uint32_t>(h, o + 16);
  image->imageBase = image->pe32plus ? Get<std::uint64_t>(h, o + 24) : Get<std::uint32_t>(h, o + 28);
  image->sectionAlignment = Get<std::uint32_t>(h, o + 32);
  image->fileAlignment = Get<std::uint32_t>(h, o + 36);
  image->majorOsVersion = Get<std::uint16_t>(h, o + 40);
  image->minorOsVersion = Get<std::uint16_t>(h, o + 42);
  image->majorImageVersion = Get<std::uint16_t>(h, o + 44);
  image->minorImageVersion = Get<std::uint16_t>(h, o + 46);
  image->majorSubsystemVersion = Get<std::uint16_t>(h, o + 48);
  image->minorSubsystemVersion = Get<std::uint16_t>(h, o + 50);
  image->sizeOfImage = Get<std::uint32_t>(h, o + 56);
  image->sizeOfHeaders = Get<std::uint32_t>(h, o + 60);
  image->checkSum = Get<std::uint32_t>(h, o + 64);
  image->subsystem = Get<std::uint16_t>(h, o + 68);
  image->dllCharacteristics = Get<std::uint16_t>(h, o + 70);
  if (image->pe32plus) {
    image->stackReserve = Get<std::uint64_t>(h, o + 72);
    image->stackCommit = Get<std::uint64_t>(h, o + 80);
    image->heapReserve = Get<std::uint64_t>(h, o + 88);
    image->heapCommit = Get<std::uint64_t>(h, o + 96);
    image->numberOfRvaAndSizes = Get<std::uint32_t>(h, o + 108);
  } else {
    image->stackReserve = Get<std::uint32_t>(h, o + 72);
    image->stackCommit = Get<std::uint32_t>(h, o + 76);
    image->heapReserve = Get<std::uint32_t>(h, o + 80);
    image->heapCommit = Get<std::uint32_t>(h, o + 84);
    image->numberOfRvaAndSizes = Get<std::uint32_t>(h, o + 92);
  }
}

void ReadDirectories(const std::vector<std::uint8_t>& h, std::size_t o, CPeImage* image) {
  std::size_t first = image->pe32plus ? pe::kDirectoriesAtPe32Plus : pe::kDirectoriesAtPe32;
  std::size_t room = (image->sizeOfOptionalHeader - first) / 8;
  std::size_t count = std::min<std::size_t>({image->numberOfRvaAndSizes, room, kMaxDirectories});
  for (std::size_t k = 0; k < count; ++k) {
    CPeDataDirectory entry;
    entry.virtualAddress = Get<std::uint32_t>(h, o + first + 8 * k);
    entry.size = Get<std::uint32_t>(h, o + first + 8 * k + 4);
    image->directories.push_back(entry);
  }
  if (count > kPeSecurityDirectory) {
    image->securityEntryOffset =
        image->peOffset + pe::kOptionalHeaderAt + first + pe::kDirectoryBytes * pe::kSecurityDirectory;
  }
}

void ReadSections(const std::vector<std::uint8_t>& h, std::size_t o, std::size_t count, CPeImage* image) {
  for (std::size_t k = 0; k < count; ++k, o += kSectionHeaderSize) {
    CPeSection section;
    const char* name = reinterpret_cast<const char*>(h.data() + o);
    section.name.assign(name, std::find(name, name + 8, '\0'));
    section.virtualSize = Get<std::uint32_t>(h, o + 8);
    section.virtualAddress = Get<std::uint32_t>(h, o + 12);
    section.sizeOfRawData = Get<std::uint32_t>(h, o + 16);
    section.pointerToRawData = Get<std::uint32_t>(h, o + 20);
    section.characteristics = Get<std::uint32_t>(h, o + 36);
    image->sections.push_back(section);
  }
}

}  // namespace

bool ReadPeImage(CByteSource& source, CPeImage* image, std::string* error) {
  *image = CPeImage();
  std::vector<std::uint8_t> dos(pe::kDosHeaderBytes);
  if (!ReadExact(source, 0, dos.data(), dos.size())) return Fail(error, "shorter than a DOS header");
  if (dos[0] != 'M' || dos[1] != 'Z') return Fail(error, "no MZ signature");
  std::int32_t peOffset = Get<std::int32_t>(dos, pe::kPeOffsetAt);
  if (peOffset < 0 || static_cast<std::uint64_t>(peOffset) >= source.Size()) {
    return Fail(error, "PE header offset outside the file");
  }
  image->peOffset = static_cast<std::uint32_t>(peOffset);

  std::vector<std::uint8_t> h(4 + kFileHeaderSize);
  if (!ReadExact(source, image->peOffset, h.data(), h.size())) return Fail(error, "PE headers cut short");
  if (std::memcmp(h.data(), "PE\0\0", 4) != 0) return Fail(error, "no PE signature");
  image->machine = Get<std::uint16_t>(h, 4);
  std::size_t sectionCount = Get<std::uint16_t>(h, 6);
  image->timeDateStamp = Get<std::uint32_t>(h, 8);
  image->sizeOfOptionalHeader = Get<std::uint16_t>(h, 20);
  image->characteristics = Get<std::uint16_t>(h, 22);

  std::size_t optional = pe::kOptionalHeaderAt;
  h.resize(optional + image->sizeOfOptionalHeader + sectionCount * kSectionHeaderSize);
  if (!ReadExact(source, image->peOffset + optional, h.data() + optional, h.size() - optional)) {
    return Fail(error, "PE headers cut short");
  }
  if (image->sizeOfOptionalHeader < 2) return Fail(error, "no optional header");
  image->magic = Get<std::uint16_t>(h, optional);
  if (image->magic != pe::kPe32Magic && image->magic != pe::kPe32PlusMagic) return Fail(error, "unknown optional header magic");
  image->pe32plus = image->magic == pe::kPe32PlusMagic;
  if (image->sizeOfOptionalHeader < (image->pe32plus ? pe::kDirectoriesAtPe32Plus : pe::kDirectoriesAtPe32)) return Fail(error, "optional header too short");
  ReadOptionalHeader(h, optional, image);
  image->checkSumOffset = image->peOffset + optional + pe::kCheckSumAt;
  ReadDirectories(h, optional, image);
  ReadSections(h, optional + image->sizeOfOptionalHeader, sectionCount, image);
  return true;
}

CPeDataDirectory PeDirectory(const CPeImage& image, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= image.directories.size()) return CPeDataDirectory();
  return image.directories[index];
}

std::uint64_t PeImageDataEnd(const CPeImage& image) {
  std::uint64_t end = image.sizeOfHeaders;
  for (const CPeSection& section : image.sections) {
    if (section.sizeOfRawData == 0) continue;
    end = std::max<std::uint64_t>(end, std::uint64_t{section.pointerToRawData} + section.sizeOfRawData);
  }
  return end;
}

bool PeRvaToFileOffset(const CPeImage& image, std::uint32_t rva, std::uint64_t* offset) {
  for (const CPeSection& section : image.sections) {
    if (rva >= section.virtualAddress && rva - section.virtualAddress < section.sizeOfRawData) {
      *offset = std::uint64_t{section.pointerToRawData} + (rva - section.virtualAddress);
      return true;
    }
  }
  return false;
}
