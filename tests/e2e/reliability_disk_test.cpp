// A temporary folder on a disk too small for the package, as on a machine
// whose system drive is nearly full: the launcher must say so, let go of the
// partial file, run nothing on the partial extraction and exit 0; the next
// run on a disk with room must not suffer from it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

const char kSmallFs[] = UNPACK_E2E_SMALL_FS;

// Bytes that no two offsets of a file share in a row, so a misplaced chunk shows.
std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 10)) & 0xFF);
  return bytes;
}

class DiskFullTest : public e2e::CleanMachineTest {
 protected:
  DiskFullTest() : CleanMachineTest("reliability-disk") {}
  void SetUp() override {
    if (!fs::exists(std::string(kSmallFs) + "/mounted"))
      GTEST_SKIP() << "no small file system mounted at " << kSmallFs
                   << " (mounting a tmpfs needs root): the disk-full case is skipped";
    temp_ = std::string(kSmallFs) + "/temp-" + std::to_string(getpid());
    fs::remove_all(temp_);
    fs::create_directories(temp_);
    e2e::ClearMachineState();
  }
  void TearDown() override {
    std::error_code ignored;
    if (!temp_.empty()) fs::remove_all(temp_, ignored);
  }
  std::string temp_;
};

// Proves that on a full disk the output file's failure is logged as cause 13
// with the output path, that extraction then ends cleanly (total line, no
// count for the file cut short), that the command does not run on what was
// extracted, saying why, and the launcher exits with 0 leaving no directory
// behind, and that the next run on a roomy disk extracts
// everything.
TEST_F(DiskFullTest, AFullDiskIsLoggedNothingRunsAndTheNextRunSucceeds) {
  const std::string fits = Pattern(20 * 1024, 1), big = Pattern(3 * 1024 * 1024, 2), after = "after";
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"a-fits.txt", fits}, {"b-too-big.bin", big}, {"c-after.txt", after}},
                                setup, {"--no-run-bat"}),
            0);

  // Wine takes TMP and TEMP from the registry for a program started from
  // Linux; a Windows parent passes its own environment on.
  std::string listing = scratch_ / "listing.txt";
  std::string tempWindows = e2e::WindowsPath(temp_);
  auto run = e2e::RunWindows(e2e::TestChild(), {"with-temp", tempWindows, e2e::WindowsPath(setup),
                                                e2e::WindowsPath(e2e::TestChild()), "list", e2e::WindowsPath(listing)});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);

  auto log = e2e::LogMessages();
  std::string workDir = tempWindows + "\\unpack\\";
  const std::string source = "[CUnPack::UnPackFiles] ";
  size_t diskFull = log.size(), total = log.size();
  int counts = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    const std::string& m = log[i].message;
    if (m == "[CUtility::FileException] Disk full while accessing " + workDir + "b-too-big.bin.") diskFull = i;
    if (m.rfind(source + "UnPack count:", 0) == 0) {
      ++counts;
      EXPECT_EQ(m.find("b-too-big.bin"), std::string::npos) << "a file cut short is not counted: " << m;
    }
    if (m.rfind(source + "UnPack total ", 0) == 0) total = i;
  }
  ASSERT_LT(diskFull, log.size()) << "no disk-full line for the output path\n" << e2e::Dump(log);
  ASSERT_LT(total, log.size()) << "the extraction did not end with its total line\n" << e2e::Dump(log);
  EXPECT_GT(total, diskFull);
  EXPECT_EQ(log[total].message, source + "UnPack total " + std::to_string(counts) + " files.");
  EXPECT_EQ(log[diskFull - 1].message, source + "UnPack file name:" + workDir + "b-too-big.bin");
  // A partial extraction runs nothing: the command would meet files cut
  // short. The run says why and leaves nothing behind.
  EXPECT_EQ(log.back().message, "[CUnPackFileApp::InitInstance] execute fail") << e2e::Dump(log);
  EXPECT_NE(log.back().error, 0) << "the fail line says why";
  EXPECT_FALSE(fs::exists(listing)) << "the command ran on a partial extraction";
  EXPECT_FALSE(fs::exists(temp_ + "/unpack")) << "the refused run left its directory";

  // The next run, on the roomy default temporary folder.
  e2e::DeleteLog();
  auto next = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "list", e2e::WindowsPath(listing)});
  EXPECT_EQ(next.exitCode, 0);
  EXPECT_EQ(e2e::ReadListing(listing),
            (std::vector<e2e::ListedFile>{{"a-fits.txt", fits.size(), 0},
                                          {"b-too-big.bin", big.size(), 0},
                                          {"c-after.txt", after.size(), 0}}));
  EXPECT_TRUE(e2e::LogHas("UnPack total 3 files."));
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost()));
}

}  // namespace
