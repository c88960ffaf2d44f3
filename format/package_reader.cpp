#include "format/package_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "pe/pe_layout.h"

namespace {

// The launcher's read: bytes the file cannot supply keep what the buffer held.
std::size_t ReadUpTo(CByteSource& file, std::uint64_t offset, void* buffer, std::size_t length) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    std::size_t got = file.ReadAt(offset + done, out + done, length - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool ReadPeOffset(CByteSource& file, CLocatorRead* result) {
  std::uint8_t dos[pe::kDosHeaderBytes] = {};
  ReadUpTo(file, 0, dos, sizeof(dos));
  result->peOffset = PeOffset(dos);
  if (!PeOffsetInFile(result->peOffset, file.Size())) {
    result->failure = "the PE header offset at byte " + std::to_string(pe::kPeOffsetAt) + " lies outside the file";
    return false;
  }
  return true;
}

}  // namespace

CLocatorRead LocateWithCertificateSize(CByteSource& file, std::int32_t certificateSize) {
  CLocatorRead result;
  if (!ReadPeOffset(file, &result)) return result;
  result.certificateSize = certificateSize;
  std::uint64_t tail = StubTail(certificateSize);
  if (tail > file.Size()) {
    result.failure = "the stub header would lie before the start of the file";
    return result;
  }
  result.stubOffset = file.Size() - tail;
  PACKFILE_HEADER stub;
  std::memset(&stub, 0, sizeof(stub));
  ReadUpTo(file, result.stubOffset, &stub, sizeof(stub));
  result.headerOffset = stub.size;
  result.found = stub.size != 0;
  if (!result.found) result.failure = "the stub header's size is 0: no package";
  return result;
}

CLocatorRead LocateLikeLauncher(CByteSource& file) {
  CLocatorRead offsets;
  if (!ReadPeOffset(file, &offsets)) return offsets;
  std::uint8_t pe[kPeHeaderBytes] = {};
  ReadUpTo(file, static_cast<std::uint64_t>(offsets.peOffset), pe, sizeof(pe));
  CLocatorRead result = LocateWithCertificateSize(file, SecuritySize(pe));
  result.magic = OptionalMagic(pe);
  result.certificateSizeAt = SecuritySizeAt(result.magic);
  return result;
}

std::string DescribeWalkStop(const CLauncherWalk& walk) {
  switch (walk.stop) {
    case WalkStep::kCount: return "reading count " + std::to_string(walk.stopCount);
    case WalkStep::kShortRecord: return "at a record cut short by the end of the file";
    case WalkStep::kEndOfFile:
    case WalkStep::kEntry: break;
  }
  return "at the end of the file";
}

bool LauncherWritesName(const PACKFILE_HEADER& record) {
  std::size_t length = RecordNameLength(record);
  if (length >= kPackNameSize || CheckEntryNameRules(record.name, length) != EntryNameFault::kNone) return false;
  // The launcher tries these names as well, but the open fails, and the walk
  // goes on past the data.
  return !HasReservedNameUnit(record.name, length);
}

CLauncherWalk WalkLikeLauncher(CByteSource& file, std::uint64_t headerOffset) {
  CLauncherWalk walk;
  const std::uint64_t length = file.Size();
  PACKFILE_HEADER record;
  std::memset(&record, 0, sizeof(record));
  std::uint64_t position = headerOffset;
  for (;;) {
    std::size_t got = position < length ? ReadUpTo(file, position, &record, sizeof(record)) : 0;
    walk.stopOffset = position;
    walk.stop = NextWalkStep(got, record, static_cast<std::int64_t>(walk.written));
    if (walk.stop != WalkStep::kEntry) {
      if (walk.stop == WalkStep::kCount) walk.stopCount = record.count;
      break;
    }
    CWalkEntry entry;
    entry.recordOffset = position;
    entry.record = record;
    entry.written = LauncherWritesName(record);
    position += got;
    entry.delivered = std::min(record.size, length - position);
    position += entry.delivered;
    if (entry.written) ++walk.written;
    walk.entries.push_back(entry);
  }
  return walk;
}
