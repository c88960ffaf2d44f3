#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <sys/wait.h>

#include "gtest/gtest.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "tests/support/memory_bytes.h"
#include "tools/packfile/commands.h"

CScratchDir::CScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "packfile-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

CScratchDir::~CScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t CPatternSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= size_) return 0;
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (std::size_t k = 0; k < n; ++k) out[k] = At(offset + k);
  return n;
}

CRun RunPackfile(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int code = PackfileMain(args, out, err);
  return CRun{code, out.str(), err.str()};
}

namespace {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const std::string& path) {
  Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

CRun RunPackfileProcess(const std::vector<std::string>& args, const std::string& input) {
#ifdef PACKFILE_BINARY
  CScratchDir io;
  WriteFile(io / "in", input);
  std::string command = Quoted(PACKFILE_BINARY);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " <" + Quoted(io / "in") + " >" + Quoted(io / "out") + " 2>" + Quoted(io / "err");
  int status = std::system(command.c_str());
  return CRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(io / "out"), ReadText(io / "err")};
#else
  ADD_FAILURE() << "built without PACKFILE_BINARY";
  return CRun{-1, "", ""};
#endif
}

bool MatchesJsonSchema(const std::string& document, const std::string& schemaPath, std::string* why) {
  CScratchDir dir;
  WriteFile(dir / "doc.json", document);
  WriteFile(dir / "check.py",
            "import json, sys, jsonschema\n"
            "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n");
  // The first Python that has jsonschema (Debian's python3-jsonschema).
  std::string command = "for p in python3 /usr/bin/python3; do $p -c 'import jsonschema' 2>/dev/null && exec $p " +
                        Quoted(dir / "check.py") + " " + Quoted(dir / "doc.json") + " " + Quoted(schemaPath) +
                        " >" + Quoted(dir / "why") + " 2>&1; done; echo no python with jsonschema >" +
                        Quoted(dir / "why") + "; exit 1";
  int status = std::system(command.c_str());
  *why = ReadText(dir / "why");
  return status == 0;
}

void WriteBuildInputs(const CScratchDir& dir) {
  WriteLauncher(dir / "UnPackFile.exe");
  std::filesystem::create_directory(dir / "files");
  WriteFile(dir / "files/run.bat", "@echo off\r\nsetup.exe /quiet\r\n");
  WriteFile(dir / "files/setup.exe", std::string(5000, 'S'));
}

void WriteLauncher(const std::string& path, const CPeImageShape& shape) { WriteFile(path, MakePeImage(shape)); }

void SetSecurityEntry(Bytes* file, std::uint32_t offset, std::uint32_t size) {
  CMemorySource source(*file);
  CPeImage image;
  std::string error;
  ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
  std::memcpy(file->data() + image.securityEntryOffset, &offset, 4);
  std::memcpy(file->data() + image.securityEntryOffset + 4, &size, 4);
}

void FixCheckSum(Bytes* file) {
  CMemorySource source(*file);
  CPeImage image;
  std::string error;
  ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
  std::uint32_t sum = 0;
  ASSERT_TRUE(ComputePeChecksum(source, image.checkSumOffset, &sum));
  std::memcpy(file->data() + image.checkSumOffset, &sum, 4);
}

void AppendCertificate(Bytes* file, std::uint32_t size) {
  std::uint32_t offset = static_cast<std::uint32_t>(file->size());
  file->resize(file->size() + size, 0x5A);
  std::uint16_t revision = 0x0200, type = 2;
  std::memcpy(file->data() + offset, &size, 4);
  std::memcpy(file->data() + offset + 4, &revision, 2);
  std::memcpy(file->data() + offset + 6, &type, 2);
  SetSecurityEntry(file, offset, size);
}
