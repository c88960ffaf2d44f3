#include "tools/packfile/core/entry_name.h"

#include "gtest/gtest.h"

namespace {

struct CNameCase {
  std::string name;
  NameProblem problem;
};

// The launcher's rules are tabled in reading_rules_test.cpp; here one name
// for each of their answers, and packfile's own rules over them.
TEST(EntryNameTest, ChecksEachRule) {
  const CNameCase cases[] = {
      {"run.bat", NameProblem::kNone},
      {"caf\xE9 \x80.txt", NameProblem::kNone},
      {"", NameProblem::kEmpty},
      {".", NameProblem::kDotName},
      {"..", NameProblem::kDotName},
      {" . ", NameProblem::kTrailingDotOrSpace},
      {"a/b", NameProblem::kSeparator},
      {"tab\there", NameProblem::kControlCharacter},
      {"COM0", NameProblem::kDeviceName},
      {"a*b", NameProblem::kReservedCharacter},
      {"a?", NameProblem::kReservedCharacter},
      {"a\"b", NameProblem::kReservedCharacter},
      {"name.", NameProblem::kTrailingDotOrSpace},
      {"name ", NameProblem::kTrailingDotOrSpace},
      {std::string(201, 'x'), NameProblem::kNone},
      {std::string(202, 'x'), NameProblem::kPathTooLong},
      {std::string(259, 'x'), NameProblem::kPathTooLong},
      {std::string(260, 'x'), NameProblem::kTooLong},
  };
  for (const CNameCase& c : cases) {
    EXPECT_EQ(CheckEntryName(c.name), c.problem) << '"' << c.name << '"';
  }
}

}  // namespace
