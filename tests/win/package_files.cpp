#include "package_files.h"

#include <cstring>

#include "tests/support/package_builder.h"

std::string EntryData(std::size_t k, std::uint64_t size) {
  return test_support::PatternBytes(size, static_cast<std::uint8_t>(k));
}

std::string BuildPackage(const TestPackage& package) {
  std::vector<test_support::CTestEntry> entries;
  for (const TestEntry& entry : package.entries) entries.push_back({entry.name, entry.size});
  test_support::Bytes file = test_support::BuildPackage(MakePeImage(package.image), entries, "setup.exe", false);
  if (package.certificateSize != 0) test_support::AppendCertificate(&file, package.certificateSize);
  return std::string(file.begin(), file.end());
}

std::uint64_t RecordOffset(const TestPackage& package, std::size_t k) {
  std::uint64_t offset = MakePeImage(package.image).size();
  for (std::size_t i = 0; i < k; ++i) offset += kPackHeaderSize + package.entries[i].size;
  return offset;
}

void Put32(std::string* file, std::uint64_t offset, std::uint32_t value) {
  std::memcpy(&(*file)[offset], &value, sizeof(value));
}

void Put64(std::string* file, std::uint64_t offset, std::uint64_t value) {
  std::memcpy(&(*file)[offset], &value, sizeof(value));
}
