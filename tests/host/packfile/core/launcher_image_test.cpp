// The launcher's version block strings, read from hand-laid bytes.
#include "tools/packfile/core/launcher_image.h"

#include "gtest/gtest.h"

namespace {

void PutUtf16(const std::u16string& text, std::vector<std::uint8_t>* bytes) {
  for (char16_t unit : text + u'\0') {
    bytes->push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes->push_back(static_cast<std::uint8_t>(unit >> 8));
  }
}

// A String structure: six bytes of lengths and type after `lead` bytes, the
// key, zero padding to a multiple of 4, the value.
std::vector<std::uint8_t> Block(std::size_t lead, const std::u16string& key, const std::u16string& value) {
  std::vector<std::uint8_t> bytes(lead + 6, 0);
  PutUtf16(key, &bytes);
  while (bytes.size() % 4 != 0) bytes.push_back(0);
  PutUtf16(value, &bytes);
  return bytes;
}

TEST(LauncherImageTest, ReadsAVersionBlockString) {
  EXPECT_EQ(VersionString(Block(0, u"OriginalFilename", u"UnPackFile.exe"), u"OriginalFilename"), "UnPackFile.exe");
  // Padding after the key depends on where the structure starts.
  EXPECT_EQ(VersionString(Block(2, u"OriginalFilename", u"Caf\u00E9.exe"), u"OriginalFilename"), "Caf\xC3\xA9.exe");
  EXPECT_EQ(VersionString(Block(0, u"ProductName", u"x"), u"OriginalFilename"), "");
}

}  // namespace
