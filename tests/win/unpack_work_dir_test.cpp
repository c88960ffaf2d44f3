#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "access_list_text.h"
#include "framework/handle.h"
#include "hardening/tree_removal.h"
#include "log_reader.h"
#include "package/unpack.h"
#include "package_files.h"
#include "package_links.h"
#include "tests/support/scratch_folder.h"

using test_support::CCurrentDirectoryScope;
using test_support::CScratchFolder;
using test_support::ReadWholeFile;
using test_support::WriteWholeFile;

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class UnPackWorkDirTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryW(parent_.c_str(), nullptr)); }

  // A file in the work directory, as an earlier run may have left it.
  void Leave(const std::wstring& name) {
    CreateDirectoryW(work_.c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(work_ + name, "left"));
  }

  CScratchFolder dir_;
  std::wstring parent_ = dir_ / L"temp\\";
  std::wstring work_ = parent_ + L"unpack\\";
  CUnPack unpack_{(dir_ / L"setup.exe").c_str(), parent_.c_str()};
};

// Something at the name that is not certainly a launcher's own (under Wine
// nothing is: it keeps no access lists) stays whole; the directory goes
// beside it (the line naming it is checked end to end), and a second one
// beside both. Each object removes only what it created.
TEST_F(UnPackWorkDirTest, ALeftoverStaysWholeAndTheDirectoryGoesBesideIt) {
  Leave(L"run.bat");
  std::wstring used = static_cast<const wchar_t*>(unpack_.GetUnPackDir());
  CUnPack second((dir_ / L"setup.exe").c_str(), parent_.c_str());
  std::wstring again = static_cast<const wchar_t*>(second.GetUnPackDir());
  ASSERT_TRUE(unpack_.HoldsUnPackDir() && second.HoldsUnPackDir());
  EXPECT_NE(again, used);
  EXPECT_EQ(used.substr(0, parent_.size()), parent_);
  EXPECT_TRUE(IsWorkDirSiblingName(used.substr(parent_.size(), 15).c_str())) << std::string(used.begin(), used.end());
  unpack_.CleanUnPackDir();
  EXPECT_FALSE(Exists(used));
  EXPECT_TRUE(Exists(again));
  EXPECT_EQ(ReadWholeFile(work_ + L"run.bat"), "left");
}

// What the file system keeps of it. Wine stores only what Unix permissions
// can say (no group entries, no protection flag), so this checks the part
// that matters on any system: nobody but the intended principals is allowed,
// and the planted leftovers are gone.
TEST_F(UnPackWorkDirTest, TheWorkDirectoryIsCreatedWithThatDescriptor) {
  unpack_.GetUnPackDir();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR stored = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(work_.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &dacl, nullptr, &stored),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::unique_ptr<void, decltype(&LocalFree)> release(stored, &LocalFree);
  ASSERT_NE(dacl, nullptr);
  DWORD flags = 0, mask = 0;
  std::wstring owner = TokenOwnerText();
  // Wine names the Unix owner of the folder by a SID of its own.
  PSID unixOwner = nullptr;
  PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
  GetNamedSecurityInfoW(work_.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &unixOwner, nullptr, nullptr,
                        nullptr, &ownerDescriptor);
  std::wstring folderOwner = unixOwner ? SidText(unixOwner) : L"";
  LocalFree(ownerDescriptor);
  for (const std::wstring& sid : AllowedSids(dacl, &flags, &mask)) {
    EXPECT_TRUE(sid == L"S-1-5-18" || sid == L"S-1-5-32-544" || sid == owner || sid == folderOwner)
        << "unexpected entry for " << testing::PrintToString(sid);
  }
}

// A leftover that is certainly a launcher's own goes as a whole, with what
// its programs left (subfolders, read-only files), or not at all when any of
// it is in use. A read-only file with a second name elsewhere never loses its
// attribute: that would change the outside file too.
TEST_F(UnPackWorkDirTest, ATreeGoesAsAWholeOrNotAtAll) {
  std::wstring outside = dir_ / L"outside.txt";
  ASSERT_TRUE(WriteWholeFile(outside, "outside"));
  ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
  for (bool held : {true, false}) {
    SCOPED_TRACE(held ? "a file held open" : "nothing in use");
    Leave(L"gone.txt");
    CreateDirectoryW((work_ + L"sub").c_str(), nullptr);
    CreateDirectoryW((work_ + L"sub\\deeper").c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(work_ + L"sub\\deeper\\inner.txt", "inner"));
    Leave(L"locked.txt");
    ASSERT_TRUE(SetFileAttributesW((work_ + L"locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    CreateHardLinkW((work_ + L"second-name.txt").c_str(), outside.c_str(), nullptr);
    CHandle holder(held ? CreateFileW((work_ + L"sub\\deeper\\inner.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr)
                        : nullptr);
    CHandle directory(CreateFileW(work_.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(directory.IsValid());
    DWORD error = RemoveWholeTree(directory.Get());
    directory.Reset();
    holder.Reset();
    EXPECT_EQ(GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ReadWholeFile(outside), "outside");
    if (held) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      EXPECT_TRUE(Exists(work_ + L"gone.txt") && Exists(work_ + L"locked.txt")) << "nothing goes while any of it is in use";
    } else if (Exists(work_ + L"second-name.txt")) {
      // A system without the ignore-read-only deletion leaves that name.
      EXPECT_NE(error, 0u);
      EXPECT_FALSE(Exists(work_ + L"locked.txt"));
    } else {
      EXPECT_EQ(error, 0u);
      EXPECT_FALSE(Exists(work_));
    }
  }
}

TEST_F(UnPackWorkDirTest, TheDirectoryIsHeldFromItsCreationUntilItIsCleaned) {
  std::wstring bare = work_.substr(0, work_.size() - 1);
  unpack_.GetUnPackDir();
  ASSERT_TRUE(unpack_.HoldsUnPackDir());
  EXPECT_EQ(unpack_.UnPackDirError(), 0u);
  EXPECT_FALSE(MoveFileW(bare.c_str(), (dir_ / L"moved").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(RemoveDirectoryW(bare.c_str()));
  // A program started inside must still be able to make it its current directory.
  EXPECT_TRUE(CCurrentDirectoryScope(work_).Entered());
  unpack_.CleanUnPackDir();
  EXPECT_FALSE(unpack_.HoldsUnPackDir());
  EXPECT_FALSE(Exists(work_));
}

TEST_F(UnPackWorkDirTest, CleaningNeedsAComputedPathAndKeepsIt) {
  Leave(L"run.bat");
  unpack_.CleanUnPackDir();
  EXPECT_TRUE(Exists(work_ + L"run.bat")) << "the path was never computed";
  ASSERT_TRUE(DeleteFileW((work_ + L"run.bat").c_str()) && RemoveDirectoryW(work_.c_str()));

  EXPECT_EQ(std::wstring(unpack_.GetUnPackDir()), work_);
  ASSERT_TRUE(WriteWholeFile(work_ + L"out.txt", "x"));
  unpack_.CleanUnPackDir();
  EXPECT_FALSE(Exists(work_));
  EXPECT_EQ(std::wstring(unpack_.GetUnPackDir()), work_);
  EXPECT_FALSE(Exists(work_)) << "a computed path is not created again";
}

TEST_F(UnPackWorkDirTest, TheDefaultParentIsTheTemporaryDirectory) {
  wchar_t temp[MAX_PATH + 1] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  CUnPack unpack;
  EXPECT_EQ(std::wstring(unpack.GetUnPackDir()), std::wstring(temp) + L"unpack\\");
  EXPECT_TRUE(Exists(std::wstring(temp) + L"unpack\\"));
  unpack.CleanUnPackDir();
}

// The unelevated user controls the folder that holds the work directory and
// may plant a link there for the elevated launcher to follow.
class UnPackLinkTest : public UnPackWorkDirTest {
 protected:
  void SetUp() override {
    UnPackWorkDirTest::SetUp();
    ASSERT_TRUE(DeleteLogFile());
    ASSERT_TRUE(CreateDirectoryW(victim_.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(victim_ + L"\\keep.txt", "keep"));
    ASSERT_TRUE(CreateDirectoryW(emptyVictim_.c_str(), nullptr));
    if (!CUnixLink::Available()) GTEST_SKIP() << "needs Wine to plant a link";
  }
  void TearDown() override { DeleteLogFile(); }

  // Plants a Unix link, which Wine shows as a reparse point.
  void Plant(const std::wstring& link, const std::wstring& target) {
    links_.push_back(std::make_unique<CUnixLink>(link, target));
    ASSERT_TRUE(links_.back()->Made());
    ASSERT_TRUE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  }
  void ExpectVictimsIntact() {
    EXPECT_EQ(ReadWholeFile(victim_ + L"\\keep.txt"), "keep");
    EXPECT_FALSE(Exists(victim_ + L"\\run.bat"));
    EXPECT_TRUE(Exists(emptyVictim_)) << "an empty target is not removed either";
  }

  std::wstring victim_ = dir_ / L"victim";
  std::wstring emptyVictim_ = dir_ / L"empty";
  std::vector<std::unique_ptr<CUnixLink>> links_;  // removed before the scratch folder
};

TEST_F(UnPackLinkTest, AWorkDirectoryThatIsALinkIsNeitherEmptiedNorWrittenThrough) {
  TestPackage package;
  package.entries = {{"run.bat", 15}};
  ASSERT_TRUE(WriteWholeFile(dir_ / L"setup.exe", BuildPackage(package)));
  for (const std::wstring& target : {victim_, emptyVictim_}) {
    SCOPED_TRACE(std::string(target.begin(), target.end()));
    ASSERT_NO_FATAL_FAILURE(Plant(work_.substr(0, work_.size() - 1), target));
    CUnPack unpack((dir_ / L"setup.exe").c_str(), parent_.c_str());
    EXPECT_EQ(unpack.UnPackFiles(), 1);
    unpack.CleanUnPackDir();
    ExpectVictimsIntact();
    // The link stays as it is; the package goes into a directory beside it.
    std::vector<std::wstring> messages = LogMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        L"[CUtility::FileException] Access to " + work_ + L" was denied."),
              messages.end());
    EXPECT_EQ(messages.back(), L"[CUnPack::UnPackFiles] UnPack total 1 files.");
    EXPECT_NE(std::wstring(unpack.GetUnPackDir()), work_);
    DeleteLogFile();
    links_.clear();
  }
}

TEST_F(UnPackLinkTest, ALinkInsideTheWorkDirectoryIsNotEntered) {
  unpack_.GetUnPackDir();
  ASSERT_NO_FATAL_FAILURE(Plant(work_ + L"inner", victim_));
  ASSERT_NO_FATAL_FAILURE(Plant(work_ + L"hollow", emptyVictim_));
  unpack_.CleanUnPackDir();
  ExpectVictimsIntact();
}

}  // namespace
