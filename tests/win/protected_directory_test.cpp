#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "access_list_text.h"
#include "framework/handle.h"
#include "hardening/protected_directory.h"

namespace {

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

// A PSID for text such as "S-1-5-32-544", freed with the object.
struct CSidFromText {
  explicit CSidFromText(const wchar_t* text) { ConvertStringSidToSidW(text, &sid); }
  ~CSidFromText() { LocalFree(sid); }
  PSID sid = nullptr;
};

// A leftover is taken for a launcher's own only when its stored descriptor
// is what the launcher writes; everything else a neighbour could make, or
// an administrator's product folder, is not. Built in memory, as the file
// system returns it (self-relative), since Wine keeps no access lists.
TEST(ProtectedDirectoryTest, OnlyTheLaunchersOwnDescriptorIsRecognised) {
  CProtectedDirectoryDescriptor own;
  ASSERT_TRUE(own.Build());
  BOOL present = FALSE, defaulted = FALSE;
  PACL ownAcl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(own.Get(), &present, &ownAcl, &defaulted));
  CSidFromText admins(L"S-1-5-32-544"), system(L"S-1-5-18"), users(L"S-1-5-32-545"),
      someone(L"S-1-5-21-1-2-3-1001");
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  CHandle owned(token);
  BYTE tokenOwner[256] = {};
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenOwner, tokenOwner, sizeof(tokenOwner), &size));
  PSID ownerOfToken = reinterpret_cast<TOKEN_OWNER*>(tokenOwner)->Owner;
  enum Change { kSame, kExtraEntry, kEntryMissing, kOtherMask, kNoInheritance, kNullList };
  const struct {
    const char* what;
    PSID owner;
    bool protectedList;
    Change change;
    bool recognised;
  } table[] = {
      {"owned by Administrators", admins.sid, true, kSame, true},
      {"owned by SYSTEM", system.sid, true, kSame, true},
      {"owned by this token's owner", ownerOfToken, true, kSame, true},
      {"owned by another user", someone.sid, true, kSame, false},
      {"no owner", nullptr, true, kSame, false},
      {"inheriting from its parent", admins.sid, false, kSame, false},
      {"Users allowed too", admins.sid, true, kExtraEntry, false},
      {"an entry missing", admins.sid, true, kEntryMissing, false},
      {"read access only", admins.sid, true, kOtherMask, false},
      {"not inherited inside", admins.sid, true, kNoInheritance, false},
      {"no access list (everyone allowed)", admins.sid, true, kNullList, false},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    BYTE aclBytes[1024] = {};
    PACL acl = reinterpret_cast<PACL>(aclBytes);
    ASSERT_TRUE(InitializeAcl(acl, sizeof(aclBytes), ACL_REVISION));
    WORD entries = row.change == kEntryMissing ? ownAcl->AceCount - 1 : ownAcl->AceCount;
    for (WORD i = 0; i < entries; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      ASSERT_TRUE(GetAce(ownAcl, i, reinterpret_cast<void**>(&ace)));
      DWORD mask = row.change == kOtherMask ? FILE_GENERIC_READ : ace->Mask;
      DWORD flags = row.change == kNoInheritance ? 0 : ace->Header.AceFlags;
      ASSERT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION, flags, mask, &ace->SidStart));
    }
    if (row.change == kExtraEntry) ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, users.sid));
    SECURITY_DESCRIPTOR absolute = {};
    ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&absolute, row.owner, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, row.change == kNullList ? nullptr : acl, FALSE));
    if (row.protectedList) ASSERT_TRUE(SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
    BYTE stored[2048] = {};
    DWORD storedSize = sizeof(stored);
    ASSERT_TRUE(MakeSelfRelativeSD(&absolute, stored, &storedSize));
    EXPECT_EQ(own.IsLaunchersOwn(stored), row.recognised ? TRUE : FALSE);
  }
}

}  // namespace
