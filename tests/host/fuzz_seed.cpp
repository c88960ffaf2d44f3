// Writes the fuzz target's seed corpus: small valid packages of each kind, so
// that the fuzzer starts from files that get past the first checks.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "packfile_harness.h"

namespace {

void Save(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  std::filesystem::create_directories(dir);
  Bytes image = MakePeImage(CPeImageShape());
  Save(dir + "/two-entries", BuildPackage(image, {{"run.bat", 11}, {"a.txt", 40}}));
  Save(dir + "/no-entries", BuildPackage(image, {}));
  Bytes signedFile = BuildPackage(image, {{"run.bat", 3}});
  std::uint32_t at = static_cast<std::uint32_t>(signedFile.size());
  signedFile.insert(signedFile.end(), {16, 0, 0, 0, 0, 2, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  SetSecurityEntry(&signedFile, at, 16);
  FixCheckSum(&signedFile);
  Save(dir + "/signed", signedFile);
  CPeImageShape wide;
  wide.pe32plus = true;
  wide.resourceSize = 0x200;
  Save(dir + "/pe32plus", BuildPackage(MakePeImage(wide), {{"run.bat", 5}}));
  Bytes wideSigned = BuildPackage(MakePeImage(wide), {{"run.bat", 3}});
  AppendCertificate(&wideSigned, 16);
  FixCheckSum(&wideSigned);
  Save(dir + "/pe32plus-signed", wideSigned);
  return 0;
}
