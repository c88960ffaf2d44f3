// The run sequence in-process: the guard, the OS line, the extraction and
// the launch in their order, with stand-ins for the boxes and the launch.
#include "launcher/run_sequence.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "log_reader.h"
#include "package/unpack.h"
#include "package_files.h"
#include "tests/support/scratch_folder.h"

namespace {

// Records which steps the sequence took, in order, and what the launch saw.
class CRecordedSteps : public CRunSteps {
 public:
  void ShowAnotherInstance() override { taken.push_back("another-instance box"); }
  void ShowDamaged() override { taken.push_back("damaged box"); }
  void LaunchAndWait(CUnPack& unpack, int argc, wchar_t**) override {
    taken.push_back("launch argc:" + std::to_string(argc) + (unpack.HasExtracted(L"run.bat") ? " run.bat" : ""));
    linesBeforeLaunch = LogMessages().size();
  }
  std::vector<std::string> taken;
  std::size_t linesBeforeLaunch = 0;
};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(RunSequenceTest, TheGuardThenTheOsLineTheExtractionAndTheLaunchInThatOrder) {
  TestPackage withRunBat;
  withRunBat.entries = {{"run.bat", 15}, {"data.bin", 100}};
  const struct {
    const char* name;
    bool anotherInstance;
    std::string file;
    std::vector<std::string> taken;
    std::vector<std::wstring> lineStarts;  // the log's lines begin so, in order
  } table[] = {
      {"a run extracts, then launches", false, BuildPackage(withRunBat), {"launch argc:1 run.bat"},
       {L"[CUtility::OSInfo] OS ", L"[CUnPack::FindHeader] Name:", L"[CUnPack::FindHeader] Sign Size:0",
        L"[CUnPack::FindHeader] Header offset:", L"[CUnPack::UnPackFiles] UnPack file name:",
        L"[CUnPack::UnPackFiles] UnPack count:1", L"[CUnPack::UnPackFiles] UnPack file name:",
        L"[CUnPack::UnPackFiles] UnPack count:2", L"[CUnPack::UnPackFiles] UnPack total 2 files."}},
      {"no package: the command is still launched", false, std::string(4096, '\0'),
       {"launch argc:1"},
       {L"[CUtility::OSInfo] OS ", L"[CUnPack::FindHeader] Name:", L"[CUnPack::FindHeader] Sign Size:0",
        L"[CUnPack::FindHeader] Header offset:0"}},
      {"another installation: the box, no line, nothing extracted", true, BuildPackage(withRunBat),
       {"another-instance box"}, {}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    test_support::CScratchFolder dir("run-sequence");
    std::wstring source = dir / L"setup.exe";
    std::wstring parent = dir.FolderW();
    ASSERT_TRUE(test_support::WriteWholeFile(source, row.file));
    ASSERT_TRUE(DeleteLogFile());
    std::wstring mutex = L"Local\\run-sequence-" + std::to_wstring(GetCurrentProcessId());
    CInstanceGuard first(mutex.c_str());
    CInstanceGuard guard(row.anotherInstance ? mutex.c_str() : nullptr);
    CRecordedSteps steps;
    wchar_t* argv[] = {const_cast<wchar_t*>(L"setup.exe"), nullptr};
    RunSequence(guard, {source.c_str(), parent.c_str()}, steps, 1, argv);

    EXPECT_EQ(steps.taken, row.taken);
    std::vector<std::wstring> lines = LogMessages();
    ASSERT_EQ(lines.size(), row.lineStarts.size());
    for (std::size_t k = 0; k < lines.size(); ++k) EXPECT_TRUE(StartsWith(lines[k], row.lineStarts[k])) << lines[k];
    // The launch comes after every extraction line.
    if (!row.anotherInstance) EXPECT_EQ(steps.linesBeforeLaunch, lines.size());
  }
  DeleteLogFile();
}

}  // namespace
