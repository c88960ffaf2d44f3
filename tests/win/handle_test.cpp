#include "framework/handle.h"

#include <gtest/gtest.h>

namespace {

bool IsOpenHandle(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

TEST(CHandleTest, ClosesOnceWhenMovedAndOnReset) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    CHandle a(raw);
    CHandle b(static_cast<CHandle&&>(a));
    EXPECT_FALSE(a.IsValid());
    EXPECT_TRUE(b.IsValid());
    EXPECT_TRUE(IsOpenHandle(raw));
    CHandle c;
    c = static_cast<CHandle&&>(b);
    EXPECT_EQ(c.Get(), raw);
  }
  EXPECT_FALSE(IsOpenHandle(raw));

  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CHandle owner(second);
  owner.Reset();
  EXPECT_FALSE(IsOpenHandle(second));
  EXPECT_FALSE(owner.IsValid());
}

TEST(CHandleTest, ReleaseHandsOwnershipBack) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    CHandle owner(raw);
    EXPECT_EQ(owner.Release(), raw);
  }
  EXPECT_TRUE(IsOpenHandle(raw));
  CHandle(raw).Reset();
  EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(CHandleTest, InvalidValuesAreNotOwned) {
  CHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.IsValid());
}

}  // namespace
