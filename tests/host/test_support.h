// Helpers shared by the host tests: scratch folders, files, synthetic sources.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "format/byte_stream.h"
#include "tests/support/pe_writer.h"

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system temp folder, removed with everything in it.
class CScratchDir {
 public:
  CScratchDir();
  ~CScratchDir();
  const std::filesystem::path& Path() const { return path_; }
  // The path of `name` inside the folder, as a string.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::string& text);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// Bytes computed from their offset, so any misplaced copy shows.
class CPatternSource : public CByteSource {
 public:
  CPatternSource(std::uint64_t size, std::uint8_t seed) : size_(size), seed_(seed) {}
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  // The byte this source holds at `offset`.
  std::uint8_t At(std::uint64_t offset) const { return static_cast<std::uint8_t>(offset * 7 + seed_ + (offset >> 9)); }

 private:
  std::uint64_t size_;
  std::uint8_t seed_;
};

// The result of running packfile in-process.
struct CRun {
  int code;
  std::string out;
  std::string err;
};
CRun RunPackfile(const std::vector<std::string>& args);
// Runs the built packfile program as a separate process, `input` on its
// standard input: for what only a process shows (standard input, exit status).
CRun RunPackfileProcess(const std::vector<std::string>& args, const std::string& input = "");

// True when `document` validates against the JSON Schema in `schemaPath`
// (through Python's jsonschema); `why` says what failed.
bool MatchesJsonSchema(const std::string& document, const std::string& schemaPath, std::string* why);

// The inputs most build tests start from: UnPackFile.exe (a synthetic PE
// image) and a folder "files" holding run.bat and a 5,000-byte setup.exe.
void WriteBuildInputs(const CScratchDir& dir);

// A PE launcher image written to `path`.
void WriteLauncher(const std::string& path, const CPeImageShape& shape = CPeImageShape());

// Sets the security entry of a PE image held in memory.
void SetSecurityEntry(Bytes* file, std::uint32_t offset, std::uint32_t size);
// Rewrites the CheckSum of a PE image held in memory after a hand edit.
void FixCheckSum(Bytes* file);
// Appends a certificate table of `size` bytes (a revision 2.0 PKCS #7 header,
// then filler) and points the security entry at it; the CheckSum is left as is.
void AppendCertificate(Bytes* file, std::uint32_t size);
