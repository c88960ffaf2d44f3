#include "format/package_writer.h"

#include <algorithm>
#include <vector>

#include "format/package_layout.h"
#include "pe/pe_checksum.h"

namespace {

constexpr std::size_t kCopyChunk = 1 << 17;

// The sink seen by the writer: sums what passes for the CheckSum and reports
// progress.
class CCountingSink {
 public:
  CCountingSink(CByteSink& out, std::uint64_t checkSumOffset, std::uint64_t total, const PackProgress& progress)
      : out_(out), checksum_(checkSumOffset), total_(total), progress_(progress) {}

  bool Write(const void* data, std::size_t length) {
    if (!out_.Write(data, length)) return false;
    checksum_.Add(data, length);
    written_ += length;
    if (progress_) progress_(written_, total_);
    return true;
  }

  std::uint32_t CheckSum() const { return checksum_.Value(); }

 private:
  CByteSink& out_;
  CPeChecksum checksum_;
  std::uint64_t total_;
  const PackProgress& progress_;
  std::uint64_t written_ = 0;
};

bool CopyAll(CByteSource& source, const char* what, CCountingSink& out, std::string* error) {
  std::vector<std::uint8_t> buffer(kCopyChunk);
  std::uint64_t size = source.Size();
  for (std::uint64_t offset = 0; offset < size;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
    std::size_t got = source.ReadAt(offset, buffer.data(), want);
    if (got == 0) {
      *error = std::string("could not read all of ") + what;
      return false;
    }
    if (!out.Write(buffer.data(), got)) {
      *error = "write failed";
      return false;
    }
    offset += got;
  }
  return true;
}

bool WriteRecord(const PACKFILE_HEADER& record, CCountingSink& out, std::string* error) {
  if (out.Write(&record, sizeof(record))) return true;
  *error = "write failed";
  return false;
}

}  // namespace

std::uint64_t PackageFileLength(const CPackageContents& contents) {
  std::uint64_t end = contents.image->Size();
  for (const CPackEntry& entry : contents.entries) end += kPackHeaderSize + entry.data->Size();
  return end + FillerLength(end) + kPackHeaderSize;
}

bool WritePackage(const CPackageContents& contents, CByteSink& out, const PackProgress& progress, std::string* error) {
  // Without a CheckSum field, sum from an offset no file reaches.
  CCountingSink sink(out, contents.checkSumOffset.value_or(UINT64_MAX), PackageFileLength(contents), progress);
  if (!CopyAll(*contents.image, "the launcher image", sink, error)) return false;

  const std::uint64_t headerOffset = contents.image->Size();
  const auto count = static_cast<std::int32_t>(contents.entries.size());
  std::uint64_t end = headerOffset;
  std::uint64_t total = 0;
  std::uint32_t sequence = 2;
  for (const CPackEntry& entry : contents.entries) {
    std::uint64_t size = entry.data->Size();
    total += size;
    if (!WriteRecord(MakeEntryRecord(count, sequence++, size, total, entry.name), sink, error)) return false;
    if (!CopyAll(*entry.data, entry.name.c_str(), sink, error)) return false;
    end += kPackHeaderSize + size;
  }

  std::vector<std::uint8_t> filler(FillerLength(end), kFillerByte);
  if (!filler.empty() && !sink.Write(filler.data(), filler.size())) {
    *error = "write failed";
    return false;
  }
  if (!WriteRecord(MakeStubRecord(headerOffset, contents.launcherName), sink, error)) return false;

  if (contents.checkSumOffset) {
    std::uint32_t checksum = sink.CheckSum();
    if (!out.Patch(*contents.checkSumOffset, &checksum, sizeof(checksum))) {
      *error = "could not write the PE CheckSum";
      return false;
    }
  }
  return true;
}
