// The hand-filled table of system functions: its slots are filled by position
// from a list of names, so a slot that got another function's address would
// call it with the wrong arguments.
#include "framework/system_dlls.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemApiTest, EverySlotHoldsTheFunctionTheSystemGivesForItsName) {
  const CSystemApi* api = SystemApi();
  ASSERT_NE(api, nullptr);
  HMODULE dll = nullptr;
  size_t slots = 0;
#define OPEN_DLL(file) dll = GetModuleHandleW(L"" #file ".dll");
#define CHECK_SLOT(name)                                                                                          \
  EXPECT_EQ(reinterpret_cast<void*>(api->name), reinterpret_cast<void*>(GetProcAddress(dll, #name))) << #name; \
  ++slots;
  UNPACK_SYSTEM_API(OPEN_DLL, CHECK_SLOT)
#undef CHECK_SLOT
#undef OPEN_DLL
  EXPECT_EQ(slots * sizeof(FARPROC), sizeof(CSystemApi)) << "a slot the list does not name";
}

}  // namespace
