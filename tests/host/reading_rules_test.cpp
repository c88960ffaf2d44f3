#include "format/reading_rules.h"

#include <string>

#include "gtest/gtest.h"

namespace {

// Names as Windows-1252 bytes. The launcher checks the UTF-16 name it
// converts to, packfile the bytes: every byte here converts to the unit of
// the same value, so both must give the same answer.
struct CNameCase {
  std::string name;
  EntryNameFault fault;
  std::string created = "";  // the name the file gets, when not name itself
};

const CNameCase kNames[] = {
    {"run.bat", EntryNameFault::kNone},
    {"run.bat.", EntryNameFault::kNone, "run.bat"},
    {"notes.txt . ", EntryNameFault::kNone, "notes.txt"},
    {". x", EntryNameFault::kNone},
    {".hidden", EntryNameFault::kNone},
    {"CONSOLE.txt", EntryNameFault::kNone},
    {"a.con", EntryNameFault::kNone},
    {"COM10", EntryNameFault::kNone},
    {"COM\xB4", EntryNameFault::kNone},  // an acute accent, not a superscript
    {"caf\xE9.txt", EntryNameFault::kNone},
    {"", EntryNameFault::kEmpty},
    {"a:b", EntryNameFault::kSeparator},
    {"a/b", EntryNameFault::kSeparator},
    {"..\\x", EntryNameFault::kSeparator},
    {"tab\there", EntryNameFault::kControlCharacter},
    {std::string("nul\0x", 5), EntryNameFault::kControlCharacter},
    {".", EntryNameFault::kDotsAndBlanks},
    {"..", EntryNameFault::kDotsAndBlanks},
    {" . ", EntryNameFault::kDotsAndBlanks},
    {"CON", EntryNameFault::kDeviceName},
    {"CON .txt", EntryNameFault::kDeviceName},
    {"nul.tar.gz", EntryNameFault::kDeviceName},
    {"conout$", EntryNameFault::kDeviceName},
    {"COM0", EntryNameFault::kDeviceName},
    {"lpt9.txt", EntryNameFault::kDeviceName},
    {"COM\xB9", EntryNameFault::kDeviceName},  // COM superscript one
    {"lpt\xB2.log", EntryNameFault::kDeviceName},
    {"Com\xB3 ", EntryNameFault::kDeviceName},
};

TEST(ReadingRulesTest, EntryNamesGiveTheSameAnswerInBytesAndInUtf16) {
  for (const CNameCase& c : kNames) {
    std::wstring wide;
    for (char byte : c.name) wide += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    EXPECT_EQ(CheckEntryNameRules(c.name.data(), c.name.size()), c.fault) << '"' << c.name << '"';
    EXPECT_EQ(CheckEntryNameRules(wide.data(), wide.size()), c.fault) << '"' << c.name << '"';
    if (c.fault != EntryNameFault::kNone) continue;
    const std::string created = c.created.empty() ? c.name : c.created;
    EXPECT_EQ(CreatedNameLength(c.name.data(), c.name.size()), created.size()) << '"' << c.name << '"';
    EXPECT_EQ(CreatedNameLength(wide.data(), wide.size()), created.size()) << '"' << c.name << '"';
  }
}

}  // namespace
