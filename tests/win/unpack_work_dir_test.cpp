#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/handle.h"
#include "hardening/protected_directory.h"
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

TEST_F(UnPackWorkDirTest, LeftoversAreRemovedAndTheDirectoryMadeAfresh) {
  Leave(L"run.bat");
  Leave(L"setup.msi");
  ASSERT_TRUE(SetFileAttributesW((work_ + L"setup.msi").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(std::wstring(unpack_.GetUnPackDir()), work_);
  EXPECT_EQ(GetFileAttributesW(work_.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(Exists(work_ + L"run.bat"));
  EXPECT_FALSE(Exists(work_ + L"setup.msi"));
}

// The SID as text ("S-1-5-18"), for readable comparisons.
std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring out(text);
  LocalFree(text);
  return out;
}

std::wstring TokenOwnerText() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  CHandle owned(token);
  BYTE buffer[256] = {};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenOwner, buffer, sizeof(buffer), &size)) return L"?";
  return SidText(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

// The SIDs of the allow entries of dacl, in order; empty for a null list.
std::vector<std::wstring> AllowedSids(PACL dacl, DWORD* commonFlags, DWORD* commonMask) {
  std::vector<std::wstring> sids;
  *commonFlags = *commonMask = ~0u;
  for (WORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      sids.push_back(L"not an allow entry");
      continue;
    }
    *commonFlags &= ace->Header.AceFlags;
    *commonMask &= ace->Mask;
    sids.push_back(SidText(&ace->SidStart));
  }
  return sids;
}

// The work directory lies in a folder the unelevated user controls: it must
// not inherit that folder's access list, and only SYSTEM, Administrators and
// the launcher's token owner may use it, with what is created inside alike.
TEST(ProtectedDirectoryTest, TheDescriptorAllowsOnlySystemAdministratorsAndTheOwner) {
  CProtectedDirectoryDescriptor descriptor;
  ASSERT_TRUE(descriptor.Build());
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inheritance from the parent is blocked";
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl) << "a null access list would allow everyone";
  EXPECT_FALSE(defaulted);

  std::vector<std::wstring> expected = {L"S-1-5-18", L"S-1-5-32-544"};
  std::wstring owner = TokenOwnerText();
  if (owner != expected[0] && owner != expected[1]) expected.push_back(owner);
  DWORD flags = 0, mask = 0;
  EXPECT_EQ(AllowedSids(dacl, &flags, &mask), expected);
  EXPECT_EQ(mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  EXPECT_EQ(flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), static_cast<DWORD>(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
}

// What the file system keeps of it. Wine stores only what Unix permissions
// can say (no group entries, no protection flag), so this checks the part
// that matters on any system: nobody but the intended principals is allowed,
// and the planted leftovers are gone.
TEST_F(UnPackWorkDirTest, TheWorkDirectoryIsCreatedWithThatDescriptor) {
  Leave(L"planted.dll");  // a leftover directory is replaced, not reused
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
  EXPECT_FALSE(Exists(work_ + L"planted.dll"));
}

// What a run's programs may leave (a subfolder, a read-only file) goes with
// the leftover (e2e.neighbour: one held by a running process stays and refuses).
TEST_F(UnPackWorkDirTest, SubfoldersAndReadOnlyFilesGoWithTheLeftover) {
  Leave(L"gone.txt");
  ASSERT_TRUE(CreateDirectoryW((work_ + L"sub").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((work_ + L"sub\\deeper").c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(work_ + L"sub\\deeper\\inner.txt", "inner"));
  Leave(L"locked.txt");
  ASSERT_TRUE(SetFileAttributesW((work_ + L"locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(std::wstring(unpack_.GetUnPackDir()), work_);
  EXPECT_TRUE(unpack_.HoldsUnPackDir());
  EXPECT_FALSE(Exists(work_ + L"sub"));
  EXPECT_FALSE(Exists(work_ + L"locked.txt"));
  unpack_.CleanUnPackDir();
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
    // Windows would remove the link and make a real directory; Wine opens
    // only the link's target, so the link stays and nothing is written.
    std::vector<std::wstring> messages = LogMessages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[3], L"[CUtility::FileException] Access to " + work_ + L" was denied.");
    EXPECT_EQ(messages[4], L"[CUnPack::UnPackFiles] UnPack total 0 files.");
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

// Remote volumes and paths too long for the current directory are refused
// before anything is written; the volume's kind comes in as an input.
TEST(WorkParentRefusalTest, LongAndRemoteParentsAreRefused) {
  std::wstring longest(MAX_PATH - 8, L'x');  // with "unpack\" and the terminator: 260
  longest.replace(0, 3, L"C:\\");
  const struct {
    std::wstring parent;
    UINT driveType;
    DWORD refusal;
  } table[] = {
      {L"C:\\Users\\me\\AppData\\Local\\Temp\\", DRIVE_FIXED, 0},
      {longest, DRIVE_FIXED, 0},
      {longest + L"y", DRIVE_FIXED, ERROR_FILENAME_EXCED_RANGE},
      {L"Z:\\temp\\", DRIVE_REMOTE, ERROR_BAD_NETPATH},
      {L"\\\\server\\share\\temp\\", DRIVE_UNKNOWN, ERROR_BAD_NETPATH},
      {L"", DRIVE_UNKNOWN, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& row : table)
    EXPECT_EQ(WorkParentRefusal(row.parent.c_str(), row.driveType), row.refusal) << row.parent.size();
}
