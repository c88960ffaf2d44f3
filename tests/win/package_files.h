// The extractor tests' view of the shared package builder: a package
// described by its image shape, entries and certificate, built with
// "setup.exe" as the launcher's name, its bytes held in std::string as the
// whole-file helpers read and write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/packfile_header.h"
#include "tests/support/package_builder.h"
#include "tests/support/pe_writer.h"

using TestEntry = test_support::CTestEntry;

struct TestPackage {
  CPeImageShape image;
  std::vector<TestEntry> entries;
  std::uint32_t certificateSize = 0;  // 0: unsigned
};

// The bytes of entry k (its pattern).
std::string EntryData(std::size_t k, std::uint64_t size);

// The whole file: image, package, and (when signed) a certificate table of
// certificateSize bytes that the image's security entry points at.
std::string BuildPackage(const TestPackage& package);

// The offset of record k (k = entries: what follows the last entry's data).
std::uint64_t RecordOffset(const TestPackage& package, std::size_t k);

// Little-endian stores into a built file, for the tests that damage it.
void Put32(std::string* file, std::uint64_t offset, std::uint32_t value);
void Put64(std::string* file, std::uint64_t offset, std::uint64_t value);
