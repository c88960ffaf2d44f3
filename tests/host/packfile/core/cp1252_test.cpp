#include "tools/packfile/core/cp1252.h"

#include "gtest/gtest.h"

namespace {

struct CConversion {
  const char* utf8;
  bool representable;
  const char* cp1252;
};

TEST(Cp1252Test, ConvertsFromUtf8OrRefuses) {
  const CConversion cases[] = {
      {"run.bat", true, "run.bat"},
      {"caf\xC3\xA9.txt", true, "caf\xE9.txt"},          // e acute, Latin-1 range
      {"\xE2\x82\xAC", true, "\x80"},                    // euro sign
      {"\xC5\xB8", true, "\x9F"},                        // Y diaeresis
      {"\xE2\x84\xA2", true, "\x99"},                    // trade mark
      {"\xC2\xA0\xC3\xBF", true, "\xA0\xFF"},            // ends of the 1:1 range
      {"\xC2\x81", false, ""},                           // U+0081: the page leaves 0x81 undefined
      {"\xC2\x9D", false, ""},                           // U+009D likewise
      {"\xE6\x97\xA5", false, ""},                       // a CJK character
      {"\xF0\x9F\x98\x80", false, ""},                   // outside the BMP
      {"\xC0\xAF", false, ""},                           // overlong "/"
      {"\xED\xA0\x80", false, ""},                       // a surrogate
      {"abc\xC3", false, ""},                            // cut-off sequence
      {"\xFF", false, ""},                               // never valid in UTF-8
  };
  for (const CConversion& c : cases) {
    std::string out = "unchanged";
    EXPECT_EQ(Utf8ToCp1252(c.utf8, &out), c.representable) << c.utf8;
    EXPECT_EQ(out, c.representable ? std::string(c.cp1252) : "unchanged") << c.utf8;
  }
}

TEST(Cp1252Test, EveryDefinedByteSurvivesTheRoundTrip) {
  for (int byte = 1; byte < 256; ++byte) {
    std::string text(1, static_cast<char>(byte));
    std::string utf8 = Cp1252ToUtf8(text);
    bool undefined = byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
    std::string back;
    EXPECT_EQ(Utf8ToCp1252(utf8, &back), !undefined) << byte;
    if (undefined) {
      EXPECT_EQ(utf8, "\xEF\xBF\xBD") << byte;
    } else {
      EXPECT_EQ(back, text) << byte;
    }
  }
}

TEST(Cp1252Test, UppercasesLettersOnly) {
  const std::pair<unsigned char, unsigned char> cases[] = {
      {'a', 'A'},   {'z', 'Z'},   {'A', 'A'},   {'1', '1'},   {'.', '.'},
      {0xE9, 0xC9}, {0xFE, 0xDE}, {0xF7, 0xF7},  // division sign has no case
      {0xDF, 0xDF},                               // sharp s stays
      {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F}, {0x80, 0x80},
  };
  for (auto [lower, upper] : cases) {
    EXPECT_EQ(static_cast<unsigned char>(Cp1252Upper(static_cast<char>(lower))), upper) << int(lower);
  }
}

}  // namespace
