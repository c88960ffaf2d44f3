#include "tools/packfile/core/package_facts.h"

#include <algorithm>

#include "format/package_layout.h"

namespace {

void LayEntries(CByteSource& file, CPackageFacts* facts) {
  const std::uint64_t stubOffset = facts->stubOffset;
  std::uint64_t position = facts->stub.size;
  std::uint8_t bytes[kPackHeaderSize];
  // A filler is shorter than a record, so any room for a record is a record.
  while (position <= stubOffset && stubOffset - position >= kPackHeaderSize) {
    if (!ReadExact(file, position, bytes, sizeof(bytes))) break;
    CLaidEntry entry;
    entry.recordOffset = position;
    entry.record = DecodeRecord(bytes);
    facts->entries.push_back(entry);
    std::uint64_t dataStart = position + kPackHeaderSize;
    if (entry.record.size > stubOffset - dataStart) {
      facts->overrun = true;
      position = stubOffset;
      break;
    }
    position = dataStart + entry.record.size;
  }
  facts->entriesEnd = position;
}

}  // namespace

CPackageFacts ReadPackageFacts(CByteSource& file, const CPeImage& image) {
  CPackageFacts facts;
  facts.fileLength = file.Size();
  facts.security = PeDirectory(image, kPeSecurityDirectory);
  facts.contentEnd = facts.fileLength;
  if (facts.security.size != 0 && facts.security.virtualAddress <= facts.fileLength) {
    facts.contentEnd = facts.security.virtualAddress;
  }
  if (facts.contentEnd < kPackHeaderSize) return facts;
  facts.stubOffset = facts.contentEnd - kPackHeaderSize;
  std::uint8_t bytes[kPackHeaderSize];
  if (!ReadExact(file, facts.stubOffset, bytes, sizeof(bytes))) return facts;
  facts.hasStub = true;
  facts.stub = DecodeRecord(bytes);
  if (facts.stub.size != 0 && facts.stub.size <= facts.stubOffset) LayEntries(file, &facts);
  return facts;
}

bool LooksLikeStub(const PACKFILE_HEADER& stub, std::uint64_t stubOffset, std::uint64_t imageEnd) {
  return stub.count == 0 && stub.sequence == 1 && stub.size == stub.total && stub.size >= imageEnd &&
         stub.size <= stubOffset;
}
