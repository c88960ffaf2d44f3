// Signing through osslsigncode, with a certificate made at test time.
#include <cstdlib>
#include <filesystem>

#include "gtest/gtest.h"
#include "package/file_bytes.h"
#include "package/memory_bytes.h"
#include "package/package_layout.h"
#include "package/pe_checksum.h"
#include "package/pe_image.h"
#include "package_builder.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

class PackfileSignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=packfile-test -keyout " +
                    dir_ / "key.pem" + " -out " + dir_ / "cert.pem"),
              0);
    WriteLauncher(dir_ / "UnPackFile.exe");
    WriteFile(dir_ / "run.bat", "@echo off\r\n");
    WriteFile(dir_ / "data.bin", std::string(3001, 'd'));
  }

  CRun BuildSigned(const std::vector<std::string>& signing) {
    std::vector<std::string> args = {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "setup.exe",
                                     "--sign"};
    args.insert(args.end(), signing.begin(), signing.end());
    args.insert(args.end(), {dir_ / "run.bat", dir_ / "data.bin"});
    return RunPackfile(args);
  }

  // The certificate table must start right where the unsigned package ended.
  void ExpectTableAfterStub(std::uint64_t unsignedLength) {
    Bytes file = ReadFile(dir_ / "setup.exe");
    CMemorySource source(file);
    CPeImage image;
    std::string error;
    ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
    CPeDataDirectory table = PeDirectory(image, kPeSecurityDirectory);
    EXPECT_EQ(table.virtualAddress, unsignedLength);
    EXPECT_EQ(table.virtualAddress + table.size, file.size());
    PACKFILE_HEADER stub = DecodeRecord(file.data() + table.virtualAddress - kPackHeaderSize);
    EXPECT_EQ(stub.size, 1024u);
    EXPECT_EQ(RecordName(stub), "UnPackFile.exe");
    // osslsigncode writes the CheckSum itself: an independent check of ours.
    std::uint32_t sum = 0;
    ASSERT_TRUE(ComputePeChecksum(source, image.checkSumOffset, &sum));
    EXPECT_EQ(sum, image.checkSum);
  }

  CScratchDir dir_;
};

// Image, run.bat (11 bytes), data.bin (3,001), no filler needed, stub header.
constexpr std::uint64_t kUnsignedLength = 1024 + 284 + 11 + 284 + 3001 + 284;

TEST_F(PackfileSignTest, SignsWithCertificateAndKey) {
  CRun run = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem"});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectTableAfterStub(kUnsignedLength);
  CRun verify = RunPackfile({"verify", dir_ / "setup.exe"});
  EXPECT_EQ(verify.code, 0) << verify.out;
  CRun list = RunPackfile({"list", dir_ / "setup.exe"});
  EXPECT_NE(list.out.find("header offset: 1024\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("certificate table: 0 bytes"), std::string::npos) << list.out;
  // The signature covers the package: valid as written, broken by a changed byte.
  std::string check = "osslsigncode verify -CAfile " + dir_ / "cert.pem" + " -in ";
  EXPECT_EQ(Shell(check + dir_ / "setup.exe"), 0);
  Bytes file = ReadFile(dir_ / "setup.exe");
  file[1024 + 284 + 3] ^= 1;
  WriteFile(dir_ / "changed.exe", file);
  EXPECT_NE(Shell(check + dir_ / "changed.exe"), 0);
}

TEST_F(PackfileSignTest, SignsWithAPkcs12File) {
  ASSERT_EQ(Shell("openssl pkcs12 -export -passout pass:secret -inkey " + dir_ / "key.pem" + " -in " +
                  dir_ / "cert.pem" + " -out " + dir_ / "id.p12"),
            0);
  WriteFile(dir_ / "pass.txt", "secret");
  CRun run = BuildSigned({"--pkcs12", dir_ / "id.p12", "--pass-file", dir_ / "pass.txt", "--sign-hash", "sha256"});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectTableAfterStub(kUnsignedLength);
}

TEST_F(PackfileSignTest, SaysSoWhenTheSignerFailsOrIsMissing) {
  CRun badKey = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "run.bat"});
  EXPECT_EQ(badKey.code, 1);
  EXPECT_NE(badKey.err.find("osslsigncode failed"), std::string::npos) << badKey.err;
  EXPECT_FALSE(fs::exists(dir_ / "setup.exe"));

  std::string path = std::getenv("PATH");
  fs::create_directory(dir_ / "empty");
  setenv("PATH", (dir_ / "empty").c_str(), 1);
  CRun missing = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem"});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("osslsigncode was not found"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir_ / "setup.exe"));
}

}  // namespace
