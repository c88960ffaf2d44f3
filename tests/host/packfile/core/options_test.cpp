// The option parser and the diagnostics sink, below the command line.
#include <sstream>

#include "gtest/gtest.h"
#include "tools/packfile/core/diagnostics.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/inputs.h"
#include "tools/packfile/core/options.h"

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

TEST(DiagnosticsTest, PrefixesLabelsEscapesAndCountsTheWorstFault) {
  std::ostringstream err;
  CDiagnostics diagnostics(err);
  EXPECT_EQ(diagnostics.ExitCode(), kExitOk);
  diagnostics.Warning("run-bat-lf", "a\x1b[2Jb");
  diagnostics.Note("fixed");
  EXPECT_EQ(diagnostics.ExitCode(), kExitOk);
  diagnostics.CannotOpen("/x/\x07y", "No such file or directory");
  EXPECT_EQ(diagnostics.ExitCode(), kExitCannotCheck);
  // A line break in the text is a name's, escaped; the details are lines of their own.
  diagnostics.Error("first\nname", Fault::kBad, {"tool: \x1b detail"});
  EXPECT_EQ(diagnostics.ExitCode(), kExitBad);
  EXPECT_EQ(diagnostics.Usage("unknown option --x", "list"), kExitUsage);
  EXPECT_EQ(err.str(),
            "packfile: warning [run-bat-lf]: a\\x1B[2Jb\n"
            "packfile: note: fixed\n"
            "packfile: /x/\\x07y: cannot open: No such file or directory\n"
            "packfile: first\\x0Aname\n"
            "  tool: \\x1B detail\n"
            "packfile: unknown option --x\n"
            "see `packfile list --help`\n");
  EXPECT_EQ(diagnostics.Errors().front(), "/x/\\x07y: cannot open: No such file or directory");
  EXPECT_EQ(diagnostics.Errors()[1], "first\\x0Aname\n  tool: \\x1B detail");
}

// --exclude's patterns, matched the way a POSIX shell matches file names.
TEST(OptionsTest, ExcludePatternsMatchLikeTheShell) {
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

}  // namespace
