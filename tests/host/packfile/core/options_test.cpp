// The option parser and the diagnostics sink, below the command line.
#include <sstream>

#include "gtest/gtest.h"
#include "tools/packfile/core/diagnostics.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/inputs.h"
#include "tools/packfile/core/options.h"

namespace {

const std::vector<COptionDecl> kDecls = {
    {"--json", OptionKind::kFlag, "", "one document"},
    {"--out", OptionKind::kValued, "FILE", "where\nit goes"},
    {"--exclude", OptionKind::kRepeated, "GLOB", "leave out"},
};

TEST(OptionsTest, ParsesByTheDeclarations) {
  struct {
    std::vector<std::string> args;
    const char* error;  // empty: parses
    const char* out;
    std::size_t excludes, operands;
  } cases[] = {
      {{"--json", "--out", "a", "x", "y"}, "", "a", 0, 2},
      {{"--out=a=b", "--exclude", "*.log", "--exclude=*.tmp"}, "", "a=b", 2, 0},
      {{"--", "--json", "-"}, "", "", 0, 2},
      {{"--bogus"}, "unknown option --bogus", "", 0, 0},
      {{"--out", "a", "--out", "b"}, "--out is given twice", "", 0, 0},
      {{"--out"}, "--out needs a value (FILE)", "", 0, 0},
      {{"--json=yes"}, "--json takes no value", "", 0, 0},
  };
  for (const auto& c : cases) {
    CParsedArgs parsed;
    std::string error;
    bool ok = ParseOptions(c.args, kDecls, &parsed, &error);
    EXPECT_EQ(ok, std::string(c.error).empty()) << c.error;
    EXPECT_EQ(error, c.error);
    if (!ok) continue;
    EXPECT_EQ(parsed.Value("--out"), c.out);
    EXPECT_EQ(parsed.List("--exclude").size(), c.excludes);
    EXPECT_EQ(parsed.operands.size(), c.operands);
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
