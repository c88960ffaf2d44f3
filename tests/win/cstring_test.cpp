#include "framework/cstring.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/framework_ids.h"
#include "resources/resource.h"

namespace {

std::wstring S(const CString& s) { return std::wstring(s.GetString(), s.GetLength()); }

TEST(CStringTest, FormatUsesMicrosoftWideConventions) {
  CString s;
  ASSERT_TRUE(s.Format(L"[%s] %S %d 0x%08X", L"wide", "narrow", -5, 0xBEEFu));
  EXPECT_EQ(S(s), L"[wide] narrow -5 0x0000BEEF");
}

TEST(CStringTest, FormatGrowsPastItsFirstBuffer) {
  std::wstring big(5000, L'x');
  CString s;
  ASSERT_TRUE(s.Format(L"<%s>", big.c_str()));
  EXPECT_EQ(S(s), L"<" + big + L">");
  EXPECT_EQ(s.GetLength(), 5002);
}

TEST(CStringTest, FormatMayReadItsOwnText) {
  CString s(L"abc");
  ASSERT_TRUE(s.Format(L"%s-%s", s.GetString(), s.GetString()));
  EXPECT_EQ(S(s), L"abc-abc");
}

TEST(CStringTest, AppendCopyAndMoveKeepTheText) {
  CString a(L"one");
  a += L' ';
  a += CString(L"two");
  a += a;  // appending itself must not read freed memory
  EXPECT_EQ(S(a), L"one twoone two");
  CString b(a);
  CString c(static_cast<CString&&>(b));
  EXPECT_EQ(S(c), S(a));
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_STREQ(b.GetString(), L"");
  c = c.GetString() + 4;  // assigning from inside itself
  EXPECT_EQ(S(c), L"twoone two");
  EXPECT_EQ(S(CString(L"ab") + L"cd"), L"abcd");
  EXPECT_EQ(S(CString(nullptr)), L"");
}

TEST(CStringTest, LoadsStringResourcesById) {
  CString s;
  ASSERT_TRUE(s.LoadString(IDS_PRODUCT_NAME));
  EXPECT_EQ(S(s), L"Quillon\u00AE Vantor");
  ASSERT_TRUE(s.LoadString(AFX_IDP_UNNAMED_FILE));
  EXPECT_EQ(S(s), L"an unnamed file");
  EXPECT_FALSE(s.LoadString(4242));
  EXPECT_TRUE(s.IsEmpty());
}

}  // namespace
