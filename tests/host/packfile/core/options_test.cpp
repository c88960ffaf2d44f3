// The option parser, below the command line.
#include "tools/packfile/core/options.h"

#include "gtest/gtest.h"

namespace {

struct CTestRequest : CRequest {
  std::string out;
  std::vector<std::string> excludes;
};

const std::vector<COptionDecl> kDecls = {
    {"--json", "", "one document", Bind(&CRequest::json)},
    {"--out", "FILE", "where\nit goes", Bind(&CTestRequest::out)},
    {"--exclude", "GLOB", "leave out", Bind(&CTestRequest::excludes)},
};

// Each option fills the field its declaration names; the first error is
// kept while the rest is still read (a refused --json run owes its document).
TEST(OptionsTest, ParsesByTheDeclarationsIntoTheirFields) {
  struct {
    std::vector<std::string> args;
    const char* error;  // empty: parses
    bool json;
    const char* out;
    std::size_t excludes, operands;
  } cases[] = {
      {{"--json", "--out", "a", "x", "y"}, "", true, "a", 0, 2},
      {{"--out=a=b", "--exclude", "*.log", "--exclude=*.tmp"}, "", false, "a=b", 2, 0},
      {{"--", "--json", "-"}, "", false, "", 0, 2},
      {{"--bogus", "--json"}, "unknown option --bogus", true, "", 0, 0},
      {{"--out", "a", "--out", "b", "--json"}, "--out is given twice", true, "a", 0, 0},
      {{"--out"}, "--out needs a value (FILE)", false, "", 0, 0},
      {{"--json=yes"}, "--json takes no value", false, "", 0, 0},
  };
  for (const auto& c : cases) {
    CTestRequest request;
    std::string error;
    bool ok = ParseOptions(c.args, kDecls, &request, &error);
    EXPECT_EQ(ok, std::string(c.error).empty()) << c.error;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(request.json, c.json) << c.args.front();
    EXPECT_EQ(request.out, c.out) << c.args.front();
    if (!ok) continue;
    EXPECT_EQ(request.excludes.size(), c.excludes);
    EXPECT_EQ(request.operands.size(), c.operands);
  }
}

TEST(OptionsTest, HelpComesFromTheSameDeclarations) {
  EXPECT_EQ(OptionsHelp(kDecls),
            "  --json          one document\n"
            "  --out FILE      where\n"
            "                  it goes\n"
            "  --exclude GLOB  leave out\n");
}

}  // namespace
