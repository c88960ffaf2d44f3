// build's guards and the interfaces a CI job uses: file lists, exclusions,
// renamed entries, machine-readable output, version, exit codes.
#include <filesystem>

#include "gtest/gtest.h"
#include "test_support.h"
#include "tests/support/pe_writer.h"
#include "tools/packfile/core/entry_digest.h"
#include "bytes/file_bytes.h"

namespace fs = std::filesystem;

namespace {

class PackfileCiTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteBuildInputs(dir_); }

  std::vector<std::string> BuildArgs(const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  std::string ListJson(const std::string& path) {
    CRun list = RunPackfile({"list", "--json", "--sha256", path});
    EXPECT_EQ(list.code, 0) << list.err;
    return list.out;
  }

  CScratchFolder dir_;
};

TEST_F(PackfileCiTest, BuildRefusesOutputsAndInputsThatWouldDestroyOrNestInstallers) {
  ASSERT_EQ(RunPackfile(BuildArgs(dir_ / "first.exe", {dir_ / "files"})).code, 0);
  Bytes launcher = ReadFile(dir_ / "UnPackFile.exe");
  fs::copy_file(dir_ / "first.exe", dir_ / "files/old-setup.exe");
  struct {
    const char* what;
    std::string out;
    std::vector<std::string> items;
    const char* message;
  } cases[] = {
      {"--out is the launcher", dir_ / "UnPackFile.exe", {dir_ / "files/run.bat"}, "is the launcher"},
      {"--out is the launcher by another path", dir_ / "files/../UnPackFile.exe", {dir_ / "files/run.bat"},
       "is the launcher"},
      {"--out inside an input folder", dir_ / "files/setup.exe", {dir_ / "files"}, "is the output (--out)"},
      {"a new --out inside an input folder", dir_ / "files/new.exe", {dir_ / "files"}, "lies in the input folder"},
      {"an input is an installer", dir_ / "second.exe", {dir_ / "files"}, "old-setup.exe is an installer carrying"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = BuildArgs(c.out, c.items);
    CRun run = RunPackfile(args);
    EXPECT_EQ(run.code, 1) << c.what;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << "\n" << run.err;
  }
  EXPECT_EQ(ReadFile(dir_ / "UnPackFile.exe"), launcher);
  EXPECT_FALSE(fs::exists(dir_ / "second.exe"));
  // Leaving the old installer out is the way through.
  CRun excluded = RunPackfile(BuildArgs(dir_ / "second.exe", {"--exclude", "old-*", dir_ / "files"}));
  EXPECT_EQ(excluded.code, 0) << excluded.err;
  EXPECT_NE(excluded.out.find("2 entries, 5029 bytes of files (1 excluded)"), std::string::npos) << excluded.out;
}

TEST_F(PackfileCiTest, StrictTurnsEveryWarningIntoAnError) {
  WriteWholeFile(dir_ / "files/run.bat", "\xEF\xBB\xBF@echo off\nsetup.exe\n");
  WriteWholeFile(dir_ / "files/SETUP~1.EXE", "x");
  CRun lenient = RunPackfile(BuildArgs(dir_ / "setup.exe", {dir_ / "files"}));
  EXPECT_EQ(lenient.code, 0) << lenient.err;
  for (const char* warning : {"not an UnPackFile launcher", "byte-order mark", "LF alone", "short-name alias"}) {
    EXPECT_NE(lenient.err.find(warning), std::string::npos) << warning << "\n" << lenient.err;
  }
  fs::remove(dir_ / "setup.exe");
  CRun strict = RunPackfile(BuildArgs(dir_ / "setup.exe", {"--strict", dir_ / "files"}));
  EXPECT_EQ(strict.code, 1);
  EXPECT_EQ(strict.err.find("warning:"), std::string::npos) << strict.err;
  EXPECT_NE(strict.err.find("byte-order mark, which cmd.exe runs as part of the first command; save it without one "
                            "(--strict; --allow run-bat-bom accepts it)"),
            std::string::npos)
      << strict.err;
  // Each warning has its id; --allow accepts one at a time, the others still refuse.
  EXPECT_NE(lenient.err.find("packfile: warning [run-bat-lf]: "), std::string::npos) << lenient.err;
  CRun allowed = RunPackfile(BuildArgs(dir_ / "setup.exe", {"--strict", "--allow", "run-bat-bom", "--allow",
                                                            "run-bat-lf", "--allow", "not-launcher", dir_ / "files"}));
  EXPECT_EQ(allowed.code, 1);
  EXPECT_EQ(allowed.err.find("byte-order mark"), std::string::npos) << allowed.err;
  EXPECT_NE(allowed.err.find("(--strict; --allow short-name-alias accepts it)"), std::string::npos) << allowed.err;
  EXPECT_FALSE(fs::exists(dir_ / "setup.exe"));
}

TEST_F(PackfileCiTest, TheRealLauncherIsRecognisedWithVersionAndArchitecture) {
  if (!fs::exists(UNPACK_LAUNCHER32)) GTEST_SKIP() << "no built launcher at " << UNPACK_LAUNCHER32;
  fs::copy_file(UNPACK_LAUNCHER32, dir_ / "UnPackFile.exe", fs::copy_options::overwrite_existing);
  CRun run = RunPackfile(BuildArgs(dir_ / "setup.exe", {"--strict", dir_ / "files"}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_NE(run.out.find("unsigned; launcher 2.0.3.352, 32-bit x86\n"), std::string::npos) << run.out;
}

// A list far longer than a command line can hold goes in one build, by file
// or on standard input; NAME=PATH stores a file under another name.
TEST_F(PackfileCiTest, TenThousandFilesFromAListInOneBuild) {
  fs::create_directory(dir_ / "many");
  std::string list = "run.bat=" + dir_ / "files/run.bat" + "\r\n\n";
  for (int k = 0; k < 10000; ++k) {
    std::string path = dir_ / ("many/f" + std::to_string(k) + ".txt");
    WriteWholeFile(path, std::to_string(k));
    list += path + "\n";
  }
  WriteWholeFile(dir_ / "list.txt", list);
  CRun fromFile = RunPackfile(BuildArgs(dir_ / "a.exe", {"--files-from", dir_ / "list.txt"}));
  ASSERT_EQ(fromFile.code, 0) << fromFile.err;
  EXPECT_NE(fromFile.err.find("10001 entries: each costs the target two log lines"), std::string::npos);
  CRun fromStdin = RunPackfileProcess(BuildArgs(dir_ / "b.exe", {"--files-from", "-"}), list);
  ASSERT_EQ(fromStdin.code, 0) << fromStdin.err;
  EXPECT_EQ(ReadFile(dir_ / "a.exe"), ReadFile(dir_ / "b.exe"));
  CRun list2 = RunPackfile({"list", dir_ / "b.exe"});
  EXPECT_NE(list2.out.find("entries: 10001\n"), std::string::npos);
  EXPECT_NE(list2.out.find("  f9999.txt\n"), std::string::npos);

  CRun renamed = RunPackfile(
      BuildArgs(dir_ / "c.exe", {"run.bat=" + dir_ / "files/setup.exe", "notes.txt=" + dir_ / "many/f7.txt"}));
  ASSERT_EQ(renamed.code, 0) << renamed.err;
  std::string json = ListJson(dir_ / "c.exe");
  EXPECT_NE(json.find("\"name\":\"run.bat\",\"size\":5000"), std::string::npos) << json;
  EXPECT_NE(json.find("\"name\":\"notes.txt\",\"size\":1"), std::string::npos) << json;
}

TEST_F(PackfileCiTest, JsonOutputMatchesItsSchema) {
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

TEST_F(PackfileCiTest, VersionHelpAndExitCodesAsAProcessSeesThem) {
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
TEST_F(PackfileCiTest, ExitCodesTellABadArtefactFromABrokenJob) {
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
TEST_F(PackfileCiTest, EveryJsonRunPrintsOneDocument) {
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
      {{"verify", "--json", dir_ / "missing.exe"}, "verify", true},
      {{"log", "--json", dir_ / "missing.log"}, "log", true},
      {BuildArgs(dir_ / "again.exe", {"--json", dir_ / "nothing-here"}), "build", true},
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

// The stub header's name comes from --stub-name or the launcher's version
// block, never from the launcher file's name.
TEST_F(PackfileCiTest, TheLauncherFileNameChangesNoByte) {
  fs::copy_file(dir_ / "UnPackFile.exe", dir_ / "launcher-v2-final.exe");
  ASSERT_EQ(RunPackfile(BuildArgs(dir_ / "a.exe", {dir_ / "files"})).code, 0);
  std::vector<std::string> renamed = {"build", "--launcher", dir_ / "launcher-v2-final.exe", "--out", dir_ / "b.exe",
                                      dir_ / "files"};
  ASSERT_EQ(RunPackfile(renamed).code, 0);
  EXPECT_EQ(ReadFile(dir_ / "a.exe"), ReadFile(dir_ / "b.exe"));
  renamed[4] = dir_ / "c.exe";
  renamed.insert(renamed.begin() + 5, {"--stub-name", "Setup.exe"});
  ASSERT_EQ(RunPackfile(renamed).code, 0);
  Bytes c = ReadFile(dir_ / "c.exe");
  EXPECT_EQ(std::string(c.end() - 260, c.end() - 260 + 10), std::string("Setup.exe\0", 10));
  EXPECT_NE(c, ReadFile(dir_ / "a.exe"));
}

}  // namespace
