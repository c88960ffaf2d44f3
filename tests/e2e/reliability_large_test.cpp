// A package entry over 4 GiB, as a product with a disk image inside ships:
// every size and offset must be 64-bit from the package to the written file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

// Over 4 GiB, and not a whole number of 1,024-byte chunks.
constexpr std::uint64_t kLength = (1ull << 32) + (1ull << 20) + 4567;

// Offsets where a 32-bit slip would show: the start, around 2 GiB (the
// signed 32-bit limit), across 4 GiB and the very end.
const std::uint64_t kMarks[] = {0, (1ull << 31) - 9, (1ull << 32) - 11, kLength - 40};

std::string Mark(std::uint64_t offset) { return "mark at " + std::to_string(offset) + ";"; }

// Compares two files in full, reading both in large blocks.
bool SameBytes(const std::string& a, const std::string& b, std::string* why) {
  int fa = open(a.c_str(), O_RDONLY), fb = open(b.c_str(), O_RDONLY);
  bool same = fa >= 0 && fb >= 0;
  if (!same) *why = "cannot open";
  std::vector<char> ba(8 << 20), bb(8 << 20);
  for (std::uint64_t offset = 0; same;) {
    ssize_t na = read(fa, ba.data(), ba.size()), nb = read(fb, bb.data(), bb.size());
    if (na != nb || na < 0) {
      *why = "lengths differ near " + std::to_string(offset);
      same = false;
    } else if (na == 0) {
      break;
    } else if (std::memcmp(ba.data(), bb.data(), na) != 0) {
      *why = "bytes differ in the block at " + std::to_string(offset);
      same = false;
    }
    offset += na > 0 ? na : 0;
  }
  if (fa >= 0) close(fa);
  if (fb >= 0) close(fb);
  return same;
}

class LargeTest : public e2e::CleanMachineTest {
 protected:
  LargeTest() : CleanMachineTest("reliability-large") {}
  void SetUp() override {
    // The installer and the extracted file are written in full: twice the length.
    struct statvfs disk = {};
    ASSERT_EQ(statvfs(scratch_.path().c_str(), &disk), 0);
    std::uint64_t free = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    if (free < 2 * kLength + (2ull << 30))
      GTEST_SKIP() << "needs " << (2 * kLength >> 30) + 2 << " GiB free, " << (free >> 30) << " GiB left";
    e2e::ClearMachineState();
  }
  void TearDown() override {
    e2e::WriteWholeFile(scratch_ / "release", "go");
    e2e::Reap(pid_);
    std::error_code ignored;
    fs::remove_all(e2e::WorkDirHost(), ignored);
  }
  int pid_ = -1;
};

// Proves that an entry of more than 4 GiB, packed by packfile, is extracted
// byte for byte (compared in full while the command runs), that its count
// line shows the length's low 32 bits as a signed number, and that the run
// completes with the clean-up and exit code 0.
TEST_F(LargeTest, AnEntryOver4GiBExtractsByteIdentical) {
  // A sparse input: only the marks take disk space.
  std::string folder = scratch_ / "package";
  fs::create_directories(folder);
  std::string input = folder + "/huge.bin";
  int fd = open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kLength)), 0);
  for (std::uint64_t offset : kMarks) {
    std::string mark = Mark(offset).substr(0, kLength - offset);
    ASSERT_EQ(pwrite(fd, mark.data(), mark.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(mark.size()));
  }
  close(fd);
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::PackFolder(folder, setup, {"--no-run-bat"}), 0);

  std::string release = scratch_ / "release";
  int pid = pid_ = e2e::StartWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "wait-for", e2e::WindowsPath(release), "600000"});
  bool waiting = e2e::WaitUntil([] { return e2e::LogHas("execute wait pid:"); }, std::chrono::seconds(400),
                                std::chrono::milliseconds(200));
  std::string output = e2e::WorkDirHost() + "/huge.bin";
  if (waiting) {
    EXPECT_EQ(fs::file_size(output), kLength);
    std::string why;
    EXPECT_TRUE(SameBytes(input, output, &why)) << why;
  }
  e2e::WriteWholeFile(release, "go");
  auto run = e2e::WaitWindows(pid, std::chrono::seconds(120));
  ASSERT_TRUE(waiting) << "the launcher did not reach its command\n" << e2e::Dump(e2e::LogMessages());
  EXPECT_EQ(run.exitCode, 0);

  const std::string path = e2e::WorkDirWindows() + "huge.bin";
  auto log = e2e::LogMessages();
  bool counted = false;
  for (const auto& line : log)
    counted = counted || line.message == "[CUnPack::UnPackFiles] UnPack count:1 len:" +
                                             std::to_string(static_cast<std::int32_t>(kLength)) + " File:" + path;
  EXPECT_TRUE(counted) << e2e::Dump(log);
  EXPECT_EQ(log.back().message, "[CUnPackFileApp::InitInstance] execute done code:0") << e2e::Dump(log);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "the clean-up removes the 4 GiB file";
}

}  // namespace
