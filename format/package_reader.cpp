#include "format/package_reader.h"

#include <algorithm>
#include <cstring>

#include "pe/pe_image.h"

namespace {

std::int32_t Int32At(const std::uint8_t* bytes) {
  std::int32_t value;
  std::memcpy(&value, bytes, sizeof(value));
  return value;
}

std::uint16_t UInt16At(const std::uint8_t* bytes) {
  std::uint16_t value;
  std::memcpy(&value, bytes, sizeof(value));
  return value;
}

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
  std::uint8_t dos[64] = {};
  ReadUpTo(file, 0, dos, sizeof(dos));
  result->peOffset = Int32At(dos + 60);
  // Widened with its sign and compared unsigned, so every negative offset fails.
  if (static_cast<std::uint64_t>(static_cast<std::int64_t>(result->peOffset)) > file.Size()) {
    result->failure = "the PE header offset at byte 60 lies outside the file";
    return false;
  }
  return true;
}

}  // namespace

CLocatorRead LocateWithCertificateSize(CByteSource& file, std::int32_t certificateSize) {
  CLocatorRead result;
  if (!ReadPeOffset(file, &result)) return result;
  result.certificateSize = certificateSize;
  std::uint64_t tail = kPackHeaderSize + (certificateSize > 0 ? static_cast<std::uint64_t>(certificateSize) : 0);
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

std::size_t LauncherCertificateSizeAt(std::uint16_t magic) {
  return magic == kPeMagic64 ? kLauncherCertificateSizeAtPlus : kLauncherCertificateSizeAt;
}

CLocatorRead LocateLikeLauncher(CByteSource& file) {
  CLocatorRead offsets;
  if (!ReadPeOffset(file, &offsets)) return offsets;
  std::uint8_t pe[kLauncherPeHeaderRead] = {};
  ReadUpTo(file, static_cast<std::uint64_t>(offsets.peOffset), pe, sizeof(pe));
  std::uint16_t magic = UInt16At(pe + kLauncherMagicAt);
  std::size_t at = LauncherCertificateSizeAt(magic);
  CLocatorRead result = LocateWithCertificateSize(file, Int32At(pe + at));
  result.magic = magic;
  result.certificateSizeAt = at;
  return result;
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
    if (got == 0) break;
    if (static_cast<std::int64_t>(walk.entries.size()) >= record.count) {
      walk.stoppedByCount = true;
      walk.stopCount = record.count;
      break;
    }
    CWalkEntry entry;
    entry.recordOffset = position;
    entry.record = record;
    entry.recordBytesRead = got;
    position += got;
    entry.delivered = std::min(record.size, length - position);
    position += entry.delivered;
    walk.entries.push_back(entry);
  }
  return walk;
}
