#include "tools/packfile/core/name_list.h"

#include "gtest/gtest.h"

namespace {

TEST(NameListTest, FindsDuplicatesAsWindowsComparesNames) {
  std::vector<CNameIssue> issues;
  for (const CNameIssue& issue :
       CheckNameList({"Readme.txt", "run.bat", "README.TXT", "\xE9t\xE9.txt", "\xC9T\xC9.TXT", "b.txt"})) {
    if (issue.error) issues.push_back(issue);
  }
  ASSERT_EQ(issues.size(), 2u);
  EXPECT_EQ(issues[0].index, 2u);
  EXPECT_TRUE(issues[0].error);
  EXPECT_NE(issues[0].text.find("entry 1"), std::string::npos) << issues[0].text;
  EXPECT_EQ(issues[1].index, 4u);
}

// Names the target machine may read differently: outside ASCII (decoded by
// its ANSI code page) or shaped like the short alias of another file.
TEST(NameListTest, WarnsAboutNamesTheTargetMayReadDifferently) {
  struct {
    const char* name;
    const char* warning;  // nullptr: no issue at all
  } cases[] = {
      {"caf\xE9.txt", "outside ASCII"},  {"SETUP~1.EXE", "short-name alias"}, {"AB~12", "short-name alias"},
      {"setup~1.exe", "short-name alias"}, {"~1.txt", nullptr},              {"SETUP~1.EXEC", nullptr},
      {"SETUPXYZ~1.EXE", nullptr},         {"a~b.txt", nullptr},             {"plain.txt", nullptr},
  };
  for (const auto& c : cases) {
    std::vector<CNameIssue> issues = CheckNameList({c.name});
    if (c.warning == nullptr) {
      EXPECT_TRUE(issues.empty()) << c.name << ": " << (issues.empty() ? "" : issues[0].text);
      continue;
    }
    ASSERT_EQ(issues.size(), 1u) << c.name;
    EXPECT_FALSE(issues[0].error) << c.name;
    EXPECT_NE(issues[0].text.find(c.warning), std::string::npos) << issues[0].text;
  }
}

TEST(NameListTest, WarnsAboutLongNamesAndReportsBadOnes) {
  auto issues = CheckNameList({std::string(201, 'a'), std::string(200, 'b'), "a:b"});
  ASSERT_EQ(issues.size(), 2u);
  EXPECT_EQ(issues[0].index, 0u);
  EXPECT_FALSE(issues[0].error);
  EXPECT_EQ(issues[1].index, 2u);
  EXPECT_TRUE(issues[1].error);
}

TEST(NameListTest, FindsRunBatInAnyCase) {
  EXPECT_TRUE(HasRunBat({"a.txt", "RUN.BAT"}));
  EXPECT_TRUE(HasRunBat({"Run.Bat"}));
  EXPECT_FALSE(HasRunBat({"run.bat.txt", "run.cmd", "xrun.bat"}));
  EXPECT_FALSE(HasRunBat({}));
}

}  // namespace
