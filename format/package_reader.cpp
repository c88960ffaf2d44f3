#include "format/package_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "format/package_walk.h"
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

// A byte source as the locate sequence reads it. A read past the end is no
// failure: the launcher's read delivers fewer bytes and the buffer keeps its
// zeroes.
class CLocateReader {
 public:
  explicit CLocateReader(CByteSource& file) : file_(file) {}
  bool Read(std::uint64_t offset, void* buffer, std::size_t count) {
    ReadUpTo(file_, offset, buffer, count);
    return true;
  }
  bool Length(std::uint64_t* length) {
    *length = file_.Size();
    return true;
  }
  bool ReadTail(std::uint64_t tail, void* buffer, std::size_t count) {
    if (tail > file_.Size()) return false;
    return Read(file_.Size() - tail, buffer, count);
  }
  void CertificateSizeRead(std::int32_t) {}
  bool AcceptStub(const CPackageLocation&, const std::uint8_t (&)[kPeHeaderBytes]) { return true; }

 private:
  CByteSource& file_;
};

// What the sequence read, and in words why it found no package.
CLocatorRead Reported(const CPackageLocation& at, LocateEnd end) {
  CLocatorRead result;
  result.peOffset = at.peOffset;
  result.magic = at.magic;
  result.certificateSizeAt = SecuritySizeAt(at.magic);
  result.certificateSize = at.certificateSize;
  result.headerOffset = at.headerOffset;
  result.found = end == LocateEnd::kFound;
  if (end == LocateEnd::kFound || end == LocateEnd::kNoPackage)
    result.stubOffset = at.length - StubTail(at.certificateSize);
  switch (end) {
    case LocateEnd::kFound:
    case LocateEnd::kStopped: break;
    case LocateEnd::kNoPackage: result.failure = "the stub header's size is 0: no package"; break;
    case LocateEnd::kPeOffsetOutside:
      result.failure = "the PE header offset at byte " + std::to_string(pe::kPeOffsetAt) + " lies outside the file";
      break;
    case LocateEnd::kStubBeforeStart: result.failure = "the stub header would lie before the start of the file"; break;
  }
  return result;
}

// The walk over byte views: records are read where the last entry's data
// ended, and an entry's data is what the file still holds of it.
class CWalkReader {
 public:
  CWalkReader(CByteSource& file, std::uint64_t headerOffset, CLauncherWalk* walk)
      : file_(file), position_(headerOffset), walk_(walk) {}
  bool ReadRecord(PACKFILE_HEADER* record, std::size_t* got) {
    walk_->stopOffset = position_;
    *got = position_ < file_.Size() ? ReadUpTo(file_, position_, record, sizeof(*record)) : 0;
    return true;
  }
  std::int64_t Written() const { return static_cast<std::int64_t>(walk_->written); }
  bool Entry(const PACKFILE_HEADER& record) {
    CWalkEntry entry;
    entry.recordOffset = position_;
    entry.record = record;
    entry.written = LauncherWritesName(record);
    position_ += sizeof(record);
    entry.delivered = std::min(record.size, file_.Size() - position_);
    position_ += entry.delivered;
    if (entry.written) ++walk_->written;
    walk_->entries.push_back(entry);
    return true;
  }

 private:
  CByteSource& file_;
  std::uint64_t position_;
  CLauncherWalk* walk_;
};

}  // namespace

CLocatorRead LocateWithCertificateSize(CByteSource& file, std::int32_t certificateSize) {
  CLocateReader reader(file);
  CPackageLocation at;
  std::uint8_t peHeaders[kPeHeaderBytes] = {};
  LocateEnd end = LocatePeHeaders(reader, &at, peHeaders);
  if (end == LocateEnd::kFound) end = LocateStub(reader, certificateSize, &at, peHeaders);
  return Reported(at, end);
}

CLocatorRead LocateLikeLauncher(CByteSource& file) {
  CLocateReader reader(file);
  CPackageLocation at;
  const LocateEnd end = LocatePackage(reader, &at);
  return Reported(at, end);
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
  CWalkReader reader(file, headerOffset, &walk);
  PACKFILE_HEADER record;
  std::memset(&record, 0, sizeof(record));
  walk.stop = WalkRecords(reader, &record);
  if (walk.stop == WalkStep::kCount) walk.stopCount = record.count;
  return walk;
}
