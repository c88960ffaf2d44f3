// The command line as a CI job meets it: help, version, exit codes, JSON.
#include <filesystem>

#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tests/support/pe_writer.h"
#include "tools/packfile/core/entry_digest.h"
#include "bytes/file_bytes.h"

namespace fs = std::filesystem;

namespace {

using PackfileCliTest = CBuildFixture;

TEST_F(PackfileCliTest, JsonOutputMatchesItsSchema) {
  ASSERT_EQ(RunPackfile(BuildArgs(dir_ / "setup.exe", {dir_ / "files"})).code, 0);
  std::string why;
  std::string list = ListJson(dir_ / "setup.exe");
  EXPECT_TRUE(MatchesJsonSchema(list, std::string(PACKFILE_SCHEMAS) + "/list.schema.json", &why)) << why << list;
  // A name no builder writes still leaves a valid document.
  WriteWholeFile(dir_ / "odd.exe", BuildPackage(MakePeImage(CPeImageShape()), {{"run.bat", 1}, {"a\x01\"b\\\xE9", 2}}));
  std::string odd = ListJson(dir_ / "odd.exe");
  EXPECT_TRUE(MatchesJsonSchema(odd, std::string(PACKFILE_SCHEMAS) + "/list.schema.json", &why)) << why << odd;
  EXPECT_NE(odd.find("\"name\":\"a\\u0001\\\"b\\\\\xC3\xA9\""), std::string::npos) << odd;
  // The SHA-256 of 5,000 'S', as Python's hashlib computes it.
  const std::string sha = "fd6d78d90939388437c72d5d6d4538e26d1156cf17d124d511695cb1329e4151";
  EXPECT_NE(list.find("\"sha256\":\"" + sha + "\""), std::string::npos) << list;
  CRun verify = RunPackfile({"verify", "--json", dir_ / "setup.exe"});
  EXPECT_EQ(verify.code, 0);
  EXPECT_TRUE(MatchesJsonSchema(verify.out, std::string(PACKFILE_SCHEMAS) + "/verify.schema.json", &why))
      << why << verify.out;
  // A failing file: status "fail", passed false, exit code 1, still valid JSON.
  Bytes file = ReadFile(dir_ / "setup.exe");
  file.resize(file.size() - 10);
  WriteWholeFile(dir_ / "cut.exe", file);
  CRun cut = RunPackfile({"verify", "--json", dir_ / "cut.exe"});
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.out.find("\"passed\":false"), std::string::npos);
  EXPECT_NE(cut.out.find("\"status\":\"fail\""), std::string::npos);
  EXPECT_TRUE(MatchesJsonSchema(cut.out, std::string(PACKFILE_SCHEMAS) + "/verify.schema.json", &why)) << why;
}

TEST_F(PackfileCliTest, VersionHelpAndExitCodesAsAProcessSeesThem) {
  CRun version = RunPackfileProcess({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("packfile ", 0), 0u) << version.out;
  EXPECT_NE(version.out.find(" (commit "), std::string::npos) << version.out;
  CRun help = RunPackfileProcess({"--help"});
  EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
  CRun progress = RunPackfileProcess(BuildArgs(dir_ / "setup.exe", {"--progress", dir_ / "files"}));
  EXPECT_EQ(progress.code, 0) << progress.err;
  EXPECT_NE(progress.err.find("packfile: 100% of 0 MiB\n"), std::string::npos) << progress.err;
  EXPECT_EQ(progress.err.find('\r'), std::string::npos);
}

// 0 ok, 1 the artefact is bad, 2 usage, 3 could not check: what a CI gate
// branches on, as a process sees it.
TEST_F(PackfileCliTest, ExitCodesTellABadArtefactFromABrokenJob) {
  ASSERT_EQ(RunPackfile(BuildArgs(dir_ / "setup.exe", {dir_ / "files"})).code, 0);
  Bytes tampered = ReadFile(dir_ / "setup.exe");
  tampered[tampered.size() - 300] ^= 1;  // inside the last entry's data: the CheckSum no longer holds
  WriteWholeFile(dir_ / "tampered.exe", tampered);
  WriteWholeFile(dir_ / "ca.pem", "");
  const std::string setup = dir_ / "setup.exe";
  struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"verify", setup}, 0, ""},
      {{"verify", dir_ / "tampered.exe"}, 1, ""},
      {{"list", dir_ / "UnPackFile.exe"}, 1, "no package: nothing follows the image's data"},
      {{"build", "--bogus"}, 2, "packfile: unknown option --bogus\nsee `packfile build --help`\n"},
      {{"list"}, 2, "packfile: list takes one FILE\nsee `packfile list --help`\n"},
      {{"pack"}, 2, "packfile: unknown command pack\nsee `packfile --help`\n"},
      {{"verify", dir_ / "missing.exe"}, 3, "missing.exe: cannot open: No such file or directory"},
      {{"verify", "--ca", dir_ / "missing.pem", setup}, 3, "--ca " + dir_ / "missing.pem" + ": cannot open: No such"},
      {{"verify", "--ca", dir_ / "ca.pem", setup}, 3, "ca.pem: is empty"},
      {{"verify", "--ca", dir_ / "files/run.bat", setup}, 3, "run.bat: holds no PEM certificate"},
      // A line break in a name is escaped like any control character.
      {{"verify", dir_ / "new\nline.exe"}, 3, "new\\x0Aline.exe: cannot open: No such file or directory\n"},
      {{"list", dir_ / "files"}, 3, "files: cannot open: Is a directory"},
      {BuildArgs(dir_ / "new.exe", {dir_ / "nothing-here"}), 3, "nothing-here: no such file or folder"},
  };
  for (const auto& c : cases) {
    CRun run = RunPackfileProcess(c.args);
    EXPECT_EQ(run.code, c.code) << c.args[0] << " " << c.args.back() << "\n" << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    if (c.code == 2) {
      EXPECT_EQ(run.err, c.err) << "a usage error is one line and a pointer to the help";
    }
  }
}

// Every --json run prints exactly one document, valid against its schema,
// with an "error" member when it failed.
TEST_F(PackfileCliTest, EveryJsonRunPrintsOneDocument) {
  CRun built = RunPackfile(BuildArgs(dir_ / "setup.exe", {"--json", dir_ / "files"}));
  ASSERT_EQ(built.code, 0) << built.err;
  CFileSource installer(dir_ / "setup.exe");
  EXPECT_NE(built.out.find("\"sha256\":\"" + Sha256Hex(installer, 0, installer.Size()) + "\""), std::string::npos)
      << built.out;
  EXPECT_NE(built.out.find("\"entries\":2,"), std::string::npos) << built.out;
  Bytes cut = ReadFile(dir_ / "setup.exe");
  cut.resize(cut.size() - 10);
  WriteWholeFile(dir_ / "cut.exe", cut);
  struct {
    std::vector<std::string> args;
    const char* schema;
    bool error;
  } cases[] = {
      {{"list", "--json", dir_ / "cut.exe"}, "list", true},
      {{"list", "--json", dir_ / "missing.exe"}, "list", true},
      {{"list", "--json", "--bogus", dir_ / "setup.exe"}, "list", true},
      {{"list", "--json"}, "list", true},
      {{"build", "--json", dir_ / "files"}, "build", true},
      {{"verify", "--json", dir_ / "missing.exe"}, "verify", true},
      {{"log", "--json", dir_ / "missing.log"}, "log", true},
      {{"sign", "--json", "--cert", dir_ / "no.pem", "--key", dir_ / "no.key", dir_ / "setup.exe"}, "sign", true},
      {BuildArgs(dir_ / "again.exe", {"--json", dir_ / "nothing-here"}), "build", true},
      {{"sign", "--json", "--pass", "x", dir_ / "setup.exe"}, "sign", true},
      {{"extract", "--json", dir_ / "cut.exe", dir_ / "out"}, "extract", true},
      {{"verify", "--json", dir_ / "cut.exe"}, "verify", false},
  };
  for (const auto& c : cases) {
    CRun run = RunPackfile(c.args);
    EXPECT_NE(run.code, 0);
    EXPECT_EQ(run.out.find("\"error\":") != std::string::npos, c.error) << run.out;
    std::string why;
    const std::string schema = std::string(PACKFILE_SCHEMAS) + "/" + c.schema + ".schema.json";
    EXPECT_TRUE(MatchesJsonSchema(run.out, schema, &why)) << why << run.out;
  }
  std::string why;
  EXPECT_TRUE(MatchesJsonSchema(built.out, std::string(PACKFILE_SCHEMAS) + "/build.schema.json", &why))
      << why << built.out;
}

TEST_F(PackfileCliTest, EveryCommandHasHelp) {
  for (const char* command : {"build", "list", "verify", "extract", "sign", "log"}) {
    for (std::vector<std::string> args : {std::vector<std::string>{command, "--help"}, {command, "-h"},
                                          {"help", command}, {command, "--json", "-h", "x"}}) {
      CRun run = RunPackfile(args);
      EXPECT_EQ(run.code, 0) << args[0] << " " << args[1];
      EXPECT_EQ(run.out.rfind(std::string("usage: packfile ") + command, 0), 0u) << run.out;
    }
  }
  EXPECT_EQ(RunPackfile({"help", "pack"}).err, "packfile: unknown command pack\nsee `packfile --help`\n");
  EXPECT_EQ(RunPackfile({"--help"}).code, 0);
  EXPECT_EQ(RunPackfile({"pack"}).code, 2);
  EXPECT_EQ(RunPackfile({"list"}).code, 2);
  EXPECT_EQ(RunPackfile({"build", "--launcher"}).code, 2);
}

}  // namespace
