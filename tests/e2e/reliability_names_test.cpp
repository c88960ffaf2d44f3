// File names as real products ship them: accented names stored in the ANSI
// code page, and names so long that the output path reaches the limit of
// the classic Windows path.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool LogHasLine(const std::wstring& message) {
  for (const auto& line : e2e::LogLines())
    if (line.find(L"  " + message + L"  Err:") != std::wstring::npos) return true;
  return false;
}

class NamesTest : public e2e::CleanMachineTest {
 protected:
  NamesTest() : CleanMachineTest("reliability-names") {}
  void TearDown() override {
    e2e::WriteWholeFile(scratch_ / "release", "go");
    e2e::Reap(pid_);
  }
  int pid_ = -1;
};

// Proves that names with characters above 127, which packfile stores in
// Windows-1252, are converted from the ANSI code page to the right UTF-16
// names: in the log's name and count lines, and on disk, where Wine stores
// the UTF-16 name as UTF-8. The euro sign (0x80) tells Windows-1252 from
// Latin-1, which would give U+0080.
TEST_F(NamesTest, AccentedAnsiNamesLandWithTheirUtf16Names) {
  const std::string accented = "caf\xC3\xA9-\xC3\xBC" "ber.txt";  // café-über.txt in UTF-8
  const std::string euro = "prix-\xE2\x82\xAC.txt";                // prix-€.txt
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{accented, "accented"}, {euro, "euro"}}, setup, {"--no-run-bat"}), 0);

  // The command waits while the files are looked at from the host.
  std::string release = scratch_ / "release";
  int pid = pid_ = e2e::StartWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "wait-for", e2e::WindowsPath(release), "120000"});
  ASSERT_TRUE(e2e::WaitUntil([] { return e2e::LogHas("execute wait pid:"); }, std::chrono::seconds(60)));
  std::set<std::string> onDisk;
  for (const auto& entry : fs::directory_iterator(e2e::WorkDirHost())) onDisk.insert(entry.path().filename().string());
  EXPECT_EQ(onDisk, (std::set<std::string>{accented, euro}));
  EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost() + "/" + accented), "accented");
  EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost() + "/" + euro), "euro");
  e2e::WriteWholeFile(release, "go");
  auto run = e2e::WaitWindows(pid, std::chrono::seconds(60));
  EXPECT_EQ(run.exitCode, 0);

  const std::wstring dir = Wide(e2e::WorkDirWindows());
  const std::wstring accentedW = L"caf\u00E9-\u00FCber.txt", euroW = L"prix-\u20AC.txt";
  const std::wstring source = L"[CUnPack::UnPackFiles] ";
  EXPECT_TRUE(LogHasLine(source + L"UnPack file name:" + dir + accentedW));
  EXPECT_TRUE(LogHasLine(source + L"UnPack count:1 len:8 File:" + dir + accentedW));
  EXPECT_TRUE(LogHasLine(source + L"UnPack file name:" + dir + euroW));
  EXPECT_TRUE(LogHasLine(source + L"UnPack count:2 len:4 File:" + dir + euroW));
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost()));
}

// Proves the limit of the output path: a name that makes it 259 characters
// lands (and is cleaned up); names that make it 260 or more (up to the record's longest name)
// are each reported as an incorrect path (cause 3) with that path, and
// skipped, while the entries before and after them land in full.
TEST_F(NamesTest, OutputPathsOf260CharactersOrMoreAreReportedAndSkipped) {
  const std::string dir = e2e::WorkDirWindows();
  const std::string fits = std::string(259 - dir.size() - 4, 'f') + ".txt";
  const std::string tooLong = std::string(260 - dir.size() - 4, 'l') + ".txt";
  const std::string longest = std::string(259 - 4, 'm') + ".txt";
  std::string setup = scratch_ / "setup.exe";
  // packfile refuses such names; the package writer takes them as they are.
  ASSERT_TRUE(e2e::WriteInstallerDirect(
      setup, {{"before.txt", "before"}, {tooLong, "x"}, {fits, "fits"}, {longest, "y"}, {"after.txt", "after"}}));

  std::string listing = scratch_ / "listing.txt";
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "list", e2e::WindowsPath(listing)});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(e2e::ReadListing(listing), (std::vector<e2e::ListedFile>{
                                           {"after.txt", 5, 0}, {"before.txt", 6, 0}, {fits, 4, 0}}));

  auto log = e2e::LogMessages();
  const std::string source = "[CUnPack::UnPackFiles] ";
  std::vector<std::string> expected = {
      source + "UnPack file name:" + dir + "before.txt",
      source + "UnPack count:1 len:6 File:" + dir + "before.txt",
      source + "UnPack file name:" + dir + tooLong,
      "[CUtility::FileException] " + dir + tooLong + " contains an incorrect path.",
      source + "UnPack file name:" + dir + fits,
      source + "UnPack count:2 len:4 File:" + dir + fits,
      source + "UnPack file name:" + dir + longest,
      "[CUtility::FileException] " + dir + longest + " contains an incorrect path.",
      source + "UnPack file name:" + dir + "after.txt",
      source + "UnPack count:3 len:5 File:" + dir + "after.txt",
      source + "UnPack total 3 files.",
  };
  ASSERT_GE(log.size(), 4 + expected.size()) << e2e::Dump(log);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[4 + i].message, expected[i]) << "line " << 4 + i;
  EXPECT_EQ(log.back().message, "[CUnPackFileApp::InitInstance] execute done code:0") << e2e::Dump(log);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "the clean-up reaches the 259-character path too";
  EXPECT_EQ((dir + fits).size(), 259u);
  EXPECT_EQ((dir + tooLong).size(), 260u);
}

// Proves that an entry named as another builder may name it ("run.bat.")
// is created as the system's own open names it, so the batch form finds
// run.bat; the name line shows the record's name, the count line the file.
TEST_F(NamesTest, NamesEndingInDotsOrBlanksAreCreatedAsTheSystemOpensThem) {
  const std::string dir = e2e::WorkDirWindows();
  std::string setup = scratch_ / "setup.exe";
  ASSERT_TRUE(e2e::WriteInstallerDirect(setup, {{"run.bat.", "@echo off\r\necho installed\r\n"}, {"notes.txt .", "n"}}));
  auto run = e2e::RunWindows(setup, {});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(e2e::ReadWholeFile(e2e::LogPath() + ".txt").find("installed"), std::string::npos);
  auto log = e2e::LogMessages();
  const std::string source = "[CUnPack::UnPackFiles] ";
  const std::vector<std::string> expected = {
      source + "UnPack file name:" + dir + "run.bat.",      source + "UnPack count:1 len:27 File:" + dir + "run.bat",
      source + "UnPack file name:" + dir + "notes.txt .", source + "UnPack count:2 len:1 File:" + dir + "notes.txt",
  };
  ASSERT_GE(log.size(), 4 + expected.size()) << e2e::Dump(log);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[4 + i].message, expected[i]) << "line " << 4 + i;
  EXPECT_EQ(log.back().message, "[CUnPackFileApp::InitInstance] execute done code:0") << e2e::Dump(log);
}

}  // namespace
