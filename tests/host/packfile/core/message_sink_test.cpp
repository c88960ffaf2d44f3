#include "tools/packfile/core/message_sink.h"

#include <sstream>

#include "gtest/gtest.h"
#include "tools/packfile/core/exit_codes.h"

namespace {

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

}  // namespace
