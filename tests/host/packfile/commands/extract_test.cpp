// extract (and list, which refuses the same files) on files a user might be
// handed: cut downloads, folders holding links someone else placed.
#include <algorithm>
#include <filesystem>

#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tests/support/pe_writer.h"

namespace fs = std::filesystem;

namespace {

class PackfileExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteLauncher(dir_ / "UnPackFile.exe");
    WriteWholeFile(dir_ / "run.bat", "@echo off\r\n");
    WriteWholeFile(dir_ / "setup.exe", std::string(5000, 'S'));
    CRun run = RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "installer.exe",
                            dir_ / "run.bat", dir_ / "setup.exe"});
    ASSERT_EQ(run.code, 0) << run.err;
    fs::create_directory(dir_ / "outside");
    WriteWholeFile(dir_ / "outside/existing.txt", "keep me");
  }

  // Nothing but `expected` in the out folder, and nothing new outside it.
  void ExpectOutHolds(const std::vector<std::string>& expected) {
    std::vector<std::string> found;
    if (fs::exists(dir_ / "out")) {
      for (const auto& entry : fs::directory_iterator(dir_ / "out")) found.push_back(entry.path().filename());
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    EXPECT_FALSE(fs::exists(dir_ / "outside/victim.txt"));
    Bytes kept = ReadFile(dir_ / "outside/existing.txt");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");
  }

  // The build tests' inputs (a folder "files"), built into setup.exe.
  CRun BuildFromFiles() {
    WriteBuildInputs(dir_);
    return RunPackfile(
        {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "setup.exe", dir_ / "files"});
  }

  CScratchFolder dir_;
};

TEST_F(PackfileExtractTest, ListAndExtractRefuseACutOrPaddedDownload) {
  Bytes whole = ReadFile(dir_ / "installer.exe");
  struct {
    const char* what;
    std::size_t keep;
  } cases[] = {
      {"cut inside the last entry", whole.size() - 400},
      {"cut inside the stub header", whole.size() - 100},
      {"cut inside the first record", 1024 + 100},
      {"only the image", 1024},
  };
  for (const auto& c : cases) {
    WriteWholeFile(dir_ / "cut.exe", Bytes(whole.begin(), whole.begin() + c.keep));
    CRun list = RunPackfile({"list", dir_ / "cut.exe"});
    EXPECT_EQ(list.code, 1) << c.what << "\n" << list.out;
    EXPECT_NE(list.err.find("packfile: " + dir_ / "cut.exe" + ": "), std::string::npos) << c.what;
    CRun extract = RunPackfile({"extract", dir_ / "cut.exe", dir_ / "out"});
    EXPECT_EQ(extract.code, 1) << c.what;
    ExpectOutHolds({});
  }
  // A certificate table that is not last: bytes appended after a signature.
  Bytes signedFile = whole;
  AppendCertificate(&signedFile, 64);
  signedFile.resize(signedFile.size() + 16, 0);
  FixCheckSum(&signedFile);
  WriteWholeFile(dir_ / "tail.exe", signedFile);
  CRun list = RunPackfile({"list", dir_ / "tail.exe"});
  EXPECT_EQ(list.code, 1);
  EXPECT_NE(list.err.find("does not end the file"), std::string::npos) << list.err;
}

// Extracting over an earlier extraction names a few taken names, not all.
TEST_F(PackfileExtractTest, ExtractOverAnExistingTreeSaysSoBriefly) {
  std::vector<CTestEntry> entries = {{"run.bat", 1}};
  for (int k = 0; k < 7; ++k) entries.push_back({"f" + std::to_string(k) + ".txt", 1});
  WriteWholeFile(dir_ / "many.exe", BuildPackage(MakePeImage(CPeImageShape()), entries));
  ASSERT_EQ(RunPackfile({"extract", dir_ / "many.exe", dir_ / "tree"}).code, 0);
  CRun again = RunPackfile({"extract", dir_ / "many.exe", dir_ / "tree"});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(std::count(again.err.begin(), again.err.end(), '\n'), 6) << again.err;
  EXPECT_NE(again.err.find("... and 3 more entries whose names exist in "), std::string::npos) << again.err;
}

TEST_F(PackfileExtractTest, ExtractNeverFollowsALinkInTheOutputFolder) {
  fs::create_directory(dir_ / "out");
  fs::create_symlink(dir_ / "outside/victim.txt", dir_ / "out/run.bat");        // dangling
  fs::create_symlink(dir_ / "outside/existing.txt", dir_ / "out/setup.exe");  // to a file
  CRun plain = RunPackfile({"extract", dir_ / "installer.exe", dir_ / "out"});
  EXPECT_EQ(plain.code, 1);
  EXPECT_NE(plain.err.find("out/run.bat: exists"), std::string::npos) << plain.err;
  EXPECT_NE(plain.err.find("out/setup.exe: exists"), std::string::npos) << plain.err;
  ExpectOutHolds({"run.bat", "setup.exe"});
  EXPECT_TRUE(fs::is_symlink(dir_ / "out/run.bat"));

  CRun forced = RunPackfile({"extract", "--force", dir_ / "installer.exe", dir_ / "out"});
  ASSERT_EQ(forced.code, 0) << forced.err;
  ExpectOutHolds({"run.bat", "setup.exe"});
  EXPECT_FALSE(fs::is_symlink(dir_ / "out/run.bat"));
  EXPECT_FALSE(fs::is_symlink(dir_ / "out/setup.exe"));
  EXPECT_EQ(ReadFile(dir_ / "out/setup.exe"), ReadFile(dir_ / "setup.exe"));
}

TEST_F(PackfileExtractTest, AFailedExtractionLeavesTheFolderAsItWas) {
  fs::create_directories(dir_ / "out/setup.exe");  // a folder where the second entry goes
  fs::create_symlink(dir_ / "outside/existing.txt", dir_ / "out/run.bat");
  CRun run = RunPackfile({"extract", "--force", dir_ / "installer.exe", dir_ / "out"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("is a folder"), std::string::npos) << run.err;
  // run.bat had been swapped in before setup.exe failed: the link is back.
  ExpectOutHolds({"run.bat", "setup.exe"});
  EXPECT_TRUE(fs::is_symlink(dir_ / "out/run.bat"));
  EXPECT_TRUE(fs::is_directory(dir_ / "out/setup.exe"));
}


TEST_F(PackfileExtractTest, ExtractWritesWhatWasPacked) {
  WriteWholeFile(dir_ / "files/caf\xC3\xA9.txt", "accent");
  ASSERT_EQ(BuildFromFiles().code, 0);
  CRun run = RunPackfile({"extract", dir_ / "setup.exe", dir_ / "out"});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* name : {"run.bat", "setup.exe", "caf\xC3\xA9.txt"}) {
    EXPECT_EQ(ReadFile(dir_ / (std::string("out/") + name)), ReadFile(dir_ / (std::string("files/") + name))) << name;
  }
  CRun again = RunPackfile({"extract", dir_ / "setup.exe", dir_ / "out"});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
  EXPECT_EQ(RunPackfile({"extract", "--force", dir_ / "setup.exe", dir_ / "out"}).code, 0);
}

TEST_F(PackfileExtractTest, ExtractRefusesACutEntry) {
  ASSERT_EQ(BuildFromFiles().code, 0);
  Bytes file = ReadFile(dir_ / "setup.exe");
  Bytes stub(file.end() - 284, file.end());
  file.resize(file.size() - 284 - 100);
  file.insert(file.end(), stub.begin(), stub.end());
  WriteWholeFile(dir_ / "cut.exe", file);
  CRun run = RunPackfile({"extract", dir_ / "cut.exe", dir_ / "out"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("run past the stub header"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

}  // namespace
