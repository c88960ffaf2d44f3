#include "format/package_layout.h"

#include <algorithm>
#include <cstring>

namespace {

// A stub header ends on a multiple of 8 when it starts 4 past one.
constexpr std::uint64_t kStubStartRemainder = (8 - kPackHeaderSize % 8) % 8;

}  // namespace

std::uint64_t FillerLength(std::uint64_t end) {
  std::uint64_t needed = (kStubStartRemainder + 8 - end % 8) % 8;
  // One to three 0xFF bytes plus the stub's zero count would read as a large
  // positive count; eight more bytes make a filler whose first four read -1.
  if (needed >= 1 && needed <= 3) needed += 8;
  return needed;
}

PACKFILE_HEADER MakeEntryRecord(std::int32_t count, std::uint32_t sequence, std::uint64_t size,
                                std::uint64_t total, const std::string& name) {
  PACKFILE_HEADER record;
  std::memset(&record, 0, sizeof(record));
  record.count = count;
  record.sequence = sequence;
  record.size = size;
  record.total = total;
  std::memcpy(record.name, name.data(), std::min(name.size(), kPackNameSize - 1));
  return record;
}

PACKFILE_HEADER MakeStubRecord(std::uint64_t headerOffset, const std::string& launcherName) {
  return MakeEntryRecord(0, 1, headerOffset, headerOffset, launcherName);
}

PACKFILE_HEADER DecodeRecord(const std::uint8_t* bytes) {
  PACKFILE_HEADER record;
  std::memcpy(&record, bytes, sizeof(record));
  return record;
}

std::string RecordName(const PACKFILE_HEADER& record) {
  const char* end = static_cast<const char*>(std::memchr(record.name, 0, kPackNameSize));
  return std::string(record.name, end ? end : record.name + kPackNameSize);
}

bool RecordNameTerminated(const PACKFILE_HEADER& record) {
  return std::memchr(record.name, 0, kPackNameSize) != nullptr;
}

bool RecordNameZeroFilled(const PACKFILE_HEADER& record) {
  const char* end = static_cast<const char*>(std::memchr(record.name, 0, kPackNameSize));
  if (end == nullptr) return false;
  return std::all_of(end, record.name + kPackNameSize, [](char c) { return c == 0; });
}
