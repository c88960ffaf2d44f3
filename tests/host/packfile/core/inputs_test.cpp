#include "tools/packfile/core/inputs.h"

#include <fstream>

#include "gtest/gtest.h"
#include "tests/support/scratch_folder.h"

namespace {

// --exclude's patterns, matched the way a POSIX shell matches file names.
TEST(InputsTest, ExcludePatternsMatchLikeTheShell) {
  struct {
    const char* glob;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.pdb", "app.pdb", true},   {"*.pdb", "app.pdb.txt", false}, {".*", ".git", true},
      {"old-*", "old-setup.exe", true}, {"a?c", "abc", true},         {"a?c", "ac", false},
      {"[ab]*", "beta", true},      {"[!ab]*", "beta", false},       {"[a-c]x", "bx", true},
      {"\\*", "*", true},           {"\\*", "a", false},             {"*a*b", "xaxxb", true},
      {"*", "", true},              {"[", "[", true},                {"*.*", "noext", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesGlob(c.glob, c.name), c.matches) << c.glob << " " << c.name;
}

// A named input is read up to its limit; one that cannot be opened says why,
// and a folder opens but reads as empty.
TEST(InputsTest, ReadsANamedInputOrSaysWhyNot) {
  test_support::CScratchFolder scratch("inputs");
  std::string folder = scratch.Path().string();
  std::ofstream(folder + "/key") << "secret";
  struct {
    std::string path;
    std::size_t limit;
    bool opens;
    const char* bytes;
  } cases[] = {
      {folder + "/key", SIZE_MAX, true, "secret"},
      {folder + "/key", 1, true, "s"},
      {folder, SIZE_MAX, true, ""},
      {folder + "/missing", SIZE_MAX, false, ""},
  };
  for (const auto& c : cases) {
    std::string bytes, reason;
    EXPECT_EQ(ReadInput(c.path, &bytes, &reason, c.limit), c.opens) << c.path;
    EXPECT_EQ(bytes, c.bytes) << c.path;
    EXPECT_EQ(reason.empty(), c.opens) << c.path;
  }
}

}  // namespace
