// packfile build through its command line, on real files in a scratch folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "format/package_reader.h"
#include "gtest/gtest.h"
#include "packfile_harness.h"

namespace fs = std::filesystem;

namespace {

// Only the inputs are left: no installer, no temporary file.
void ExpectNoInstaller(const CScratchFolder& dir) {
  EXPECT_FALSE(fs::exists(dir / "setup.exe"));
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename().string().find(".setup.exe."), std::string::npos) << entry.path();
  }
}

class PackfileBuildTest : public CBuildFixture {
 protected:

  CRun Build(std::vector<std::string> extra) {
    std::vector<std::string> args = {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "setup.exe"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunPackfile(args);
  }

  std::vector<std::string> EntryNames(const std::string& path) {
    CFileSource file(path);
    CLocatorRead located = LocateLikeLauncher(file);
    std::vector<std::string> names;
    for (const CWalkEntry& entry : WalkLikeLauncher(file, located.headerOffset).entries) {
      names.push_back(RecordName(entry.record));
    }
    return names;
  }

  void ExpectNothingWritten() { ExpectNoInstaller(dir_); }

};

TEST_F(PackfileBuildTest, BuildsAPackageALauncherExtractsInOrder) {
  WriteWholeFile(dir_ / "notes.txt", "n");
  WriteWholeFile(dir_ / "files/B.txt", "b");
  WriteWholeFile(dir_ / "files/a.txt", "a");
  CRun run = Build({dir_ / "notes.txt", dir_ / "files"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(EntryNames(dir_ / "setup.exe"),
            (std::vector<std::string>{"notes.txt", "B.txt", "a.txt", "run.bat", "setup.exe"}));
  CRun verify = RunPackfile({"verify", dir_ / "setup.exe"});
  EXPECT_EQ(verify.code, 0) << verify.out;
  EXPECT_EQ(RunPackfile({"verify", dir_ / "UnPackFile.exe"}).code, 1);
}

TEST_F(PackfileBuildTest, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(Build({dir_ / "files"}).code, 0);
  Bytes first = ReadFile(dir_ / "setup.exe");
  fs::last_write_time(dir_ / "files/run.bat", fs::file_time_type::clock::now() - std::chrono::hours(30));
  fs::rename(dir_ / "setup.exe", dir_ / "first.exe");
  ASSERT_EQ(Build({dir_ / "files"}).code, 0);
  EXPECT_EQ(ReadFile(dir_ / "setup.exe"), first);
}

TEST_F(PackfileBuildTest, ZeroEntriesNeedNoRunBatFlag) {
  EXPECT_EQ(Build({}).code, 1);
  CRun run = Build({"--no-run-bat"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(EntryNames(dir_ / "setup.exe").empty());
  EXPECT_EQ(RunPackfile({"verify", dir_ / "setup.exe"}).code, 0);
}

struct CRefusal {
  const char* what;
  void (*prepare)(const CScratchFolder&);
  std::vector<std::string> paths;  // relative to the scratch folder
  std::vector<std::string> flags;
  const char* named;               // the message names this
};

TEST_F(PackfileBuildTest, RefusesBadInputsBeforeWritingAnything) {
  const CRefusal cases[] = {
      {"nested folder", [](const CScratchFolder& d) { fs::create_directory(d / "files/sub"); }, {"files"}, {}, "sub"},
      {"backslash in a name", [](const CScratchFolder& d) { WriteWholeFile(d / "files/a\\b.txt", "x"); }, {"files"}, {},
       "a\\b.txt"},
      {"colon in a name", [](const CScratchFolder& d) { WriteWholeFile(d / "c:x", "x"); }, {"files", "c:x"}, {}, "c:x"},
      {"name outside Windows-1252", [](const CScratchFolder& d) { WriteWholeFile(d / "\xE6\x97\xA5.txt", "x"); },
       {"files", "\xE6\x97\xA5.txt"}, {}, "\xE6\x97\xA5.txt"},
      {"name too long for the work directory",
       [](const CScratchFolder& d) { WriteWholeFile(d / std::string(211, 'l'), "x"); }, {"files", std::string(211, 'l')},
       {}, "lll"},
      {"device name", [](const CScratchFolder& d) { WriteWholeFile(d / "nul.txt", "x"); }, {"files", "nul.txt"}, {},
       "nul.txt"},
      {"duplicate as Windows sees it", [](const CScratchFolder& d) { WriteWholeFile(d / "RUN.BAT", "x"); },
       {"files", "RUN.BAT"}, {}, "RUN.BAT"},
      {"missing run.bat", [](const CScratchFolder&) {}, {"files/setup.exe"}, {}, "run.bat"},
      {"missing input", [](const CScratchFolder&) {}, {"files", "nothing.txt"}, {}, "nothing.txt"},
      {"launcher not a PE image", [](const CScratchFolder& d) { WriteWholeFile(d / "UnPackFile.exe", "MZ not really"); },
       {"files"}, {}, "UnPackFile.exe"},
      {"sign without a key", [](const CScratchFolder&) {}, {"files"}, {"--sign", "--cert", "c.pem"}, "--key"},
      {"launcher is another program",
       [](const CScratchFolder& d) {
         CPeImageShape other;
         other.versionBlock = false;
         WriteLauncher(d / "UnPackFile.exe", other);
       },
       {"files"}, {}, "not an UnPackFile launcher (it has no version block), 32-bit x86"},
      {"link leading nowhere", [](const CScratchFolder& d) { fs::create_symlink(d / "gone.txt", d / "files/a.txt"); },
       {"files"}, {}, "files/a.txt: a symbolic link that leads nowhere (to "},
      {"link out of the folders given, strict",
       [](const CScratchFolder& d) {
         WriteWholeFile(d / "elsewhere.txt", "x");
         fs::create_symlink(d / "elsewhere.txt", d / "files/a.txt");
       },
       {"files"}, {"--strict"}, "files/a.txt: a symbolic link leading outside the folders given, to "},
      {"unreadable input",
       [](const CScratchFolder& d) {
         WriteWholeFile(d / "files/secret.txt", "x");
         fs::permissions(d / "files/secret.txt", fs::perms::none);
       },
       {"files"}, {}, "files/secret.txt: cannot open: Permission denied"},
      {"unknown --allow id", [](const CScratchFolder&) {}, {"files"}, {"--allow", "not-launcher"},
       "--allow not-launcher is not an id build accepts: unknown-launcher "},
  };
  for (const CRefusal& c : cases) {
    // Permissions do not keep root out.
    if (geteuid() == 0 && std::string(c.what) == "unreadable input") continue;
    CScratchFolder scratch;
    WriteLauncher(scratch / "UnPackFile.exe");
    fs::create_directory(scratch / "files");
    WriteWholeFile(scratch / "files/run.bat", "x");
    WriteWholeFile(scratch / "files/setup.exe", "x");
    c.prepare(scratch);
    std::vector<std::string> args = {"build", "--launcher", scratch / "UnPackFile.exe", "--out", scratch / "setup.exe"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    for (const std::string& path : c.paths) args.push_back(scratch / path);
    CRun run = RunPackfile(args);
    EXPECT_NE(run.code, 0) << c.what;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << c.what << ": " << run.err;
    ExpectNoInstaller(scratch);
  }
}

TEST_F(PackfileBuildTest, ReportsEveryProblemOnItsOwnLine) {
  WriteWholeFile(dir_ / "files/a:b", "x");
  WriteWholeFile(dir_ / "files/RUN.bat", "x");
  CRun run = Build({dir_ / "files"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("a:b: the name contains a path separator"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("run.bat: the name is the same file name"), std::string::npos) << run.err;
  ExpectNothingWritten();
}

// A link is packed as the file it leads to; one leading out of the folders
// given is named with where it leads.
TEST_F(PackfileBuildTest, WarnsAboutLongNamesAndOutsideLinksButBuilds) {
  WriteWholeFile(dir_ / ("files/" + std::string(201, 'w')), "x");
  WriteWholeFile(dir_ / "elsewhere.txt", "outside");
  fs::create_symlink(dir_ / "elsewhere.txt", dir_ / "files/passwd");
  fs::create_symlink("setup.exe", dir_ / "files/copy.exe");
  CRun run = Build({dir_ / "files"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("warning [long-name]"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("warning [outside-link]: " + dir_ / "files/passwd" +
                         ": a symbolic link leading outside the folders given, to " + dir_ / "elsewhere.txt"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("copy.exe"), std::string::npos) << run.err;
  std::string json = ListJson(dir_ / "setup.exe");
  EXPECT_NE(json.find("\"name\":\"passwd\",\"size\":7"), std::string::npos) << json;
  EXPECT_NE(json.find("\"name\":\"copy.exe\",\"size\":5000"), std::string::npos) << json;
}

TEST_F(PackfileBuildTest, RefusesAPackagedOrSignedLauncherUnlessReplacing) {
  ASSERT_EQ(Build({dir_ / "files"}).code, 0);
  Bytes clean = ReadFile(dir_ / "setup.exe");
  fs::create_directory(dir_ / "old");
  fs::rename(dir_ / "setup.exe", dir_ / "old/UnPackFile.exe");
  std::vector<std::string> again = {"build", "--launcher", dir_ / "old/UnPackFile.exe", "--out", dir_ / "setup.exe",
                                    dir_ / "files"};
  CRun refused = RunPackfile(again);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("already carries a package"), std::string::npos) << refused.err;
  ExpectNothingWritten();

  again.push_back("--replace");
  ASSERT_EQ(RunPackfile(again).code, 0);
  EXPECT_EQ(ReadFile(dir_ / "setup.exe"), clean);

  // A signature is refused the same way and dropped, security entry included.
  Bytes signedFile = clean;
  signedFile.resize(signedFile.size() + 16, 0);
  SetSecurityEntry(&signedFile, static_cast<std::uint32_t>(clean.size()), 16);
  WriteWholeFile(dir_ / "old/UnPackFile.exe", signedFile);
  fs::remove(dir_ / "setup.exe");
  again.pop_back();
  CRun refusedSigned = RunPackfile(again);
  EXPECT_NE(refusedSigned.err.find("already signed"), std::string::npos) << refusedSigned.err;
  again.push_back("--replace");
  ASSERT_EQ(RunPackfile(again).code, 0);
  EXPECT_EQ(ReadFile(dir_ / "setup.exe"), clean);
}

TEST_F(PackfileBuildTest, KeepsTheOldInstallerWhenABuildFails) {
  WriteWholeFile(dir_ / "setup.exe", "previous");
  WriteWholeFile(dir_ / "files/bad|name", "x");
  EXPECT_EQ(Build({dir_ / "files"}).code, 1);
  Bytes kept = ReadFile(dir_ / "setup.exe");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
}



// A 64-bit launcher reads its own security entry, so nothing about it needs a
// warning or an option: the commands treat it as they treat a 32-bit one.
TEST_F(PackfileBuildTest, APe32PlusLauncherWithResourcesBuildsListsVerifiesAndExtracts) {
  CPeImageShape wide;
  wide.pe32plus = true;
  wide.resourceSize = 0x800;
  WriteLauncher(dir_ / "UnPackFile.exe", wide);
  CRun run = Build({dir_ / "files"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_NE(run.out.find(std::string("; launcher ") + kTestLauncherVersion + ", 64-bit x64\n"), std::string::npos)
      << run.out;
  CRun list = RunPackfile({"list", dir_ / "setup.exe"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("entries: 2"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(std::string("launcher: UnPackFile launcher ") + kTestLauncherVersion + ", 64-bit x64\n"),
            std::string::npos)
      << list.out;
  EXPECT_TRUE(list.err.empty()) << list.err;
  CRun verify = RunPackfile({"verify", dir_ / "setup.exe"});
  EXPECT_EQ(verify.code, 0) << verify.out;
  EXPECT_NE(verify.out.find("at byte " + std::to_string(kSecuritySizeAtPe32Plus) + " of the PE headers"), std::string::npos) << verify.out;
  CRun extract = RunPackfile({"extract", dir_ / "setup.exe", dir_ / "out"});
  ASSERT_EQ(extract.code, 0) << extract.err;
  EXPECT_EQ(ReadFile(dir_ / "out/setup.exe"), ReadFile(dir_ / "files/setup.exe"));
  EXPECT_EQ(RunPackfile({"list", "--native-locator", dir_ / "setup.exe"}).code, 2);
  EXPECT_EQ(RunPackfile({"verify", "--native-locator", dir_ / "setup.exe"}).code, 2);
  EXPECT_EQ(RunPackfile({"extract", "--native-locator", dir_ / "setup.exe", dir_ / "out2"}).code, 2);
}

// A build stopped by a signal removes its temporary files. The signer stands
// in for a long build: a stand-in osslsigncode that sleeps while it signs
// the finished package, when both temporary files stand beside --out.
TEST_F(PackfileBuildTest, ASignalRemovesTheTemporaryOutput) {
  fs::create_directory(dir_ / "bin");
  WriteWholeFile(dir_ / "bin/osslsigncode",
                 "#!/bin/sh\nfor a; do case \"$a\" in */.setup.exe.*) touch \"$0.signing\"; exec sleep 10;; esac; done\n"
                 "exit 0\n");
  fs::permissions(dir_ / "bin/osslsigncode", fs::perms::owner_all);
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=t -keyout " + dir_ / "key.pem" +
                         " -out " + dir_ / "cert.pem" + " >/dev/null 2>&1").c_str()),
            0);
  for (const char* signal : {"INT", "TERM", "HUP"}) {
    // A shell starts background jobs with SIGINT ignored; env gives it back, as an interactive shell would.
    std::string script = "PATH=" + dir_ / "bin" + ":$PATH env --default-signal=INT " + PACKFILE_BINARY +
                         " build --launcher " +
                         dir_ / "UnPackFile.exe" + " --out " + dir_ / "setup.exe" + " --sign --cert " +
                         dir_ / "cert.pem" + " --key " + dir_ / "key.pem" + " " + dir_ / "files" +
                         " 2>/dev/null & pid=$!\n"
                         "for k in $(seq 100); do [ -e " + dir_ / "bin/osslsigncode.signing" +
                         " ] && break; sleep 0.1; done\n"
                         "kill -" + signal + " $pid; wait $pid; echo $? >" + dir_ / "status\n";
    fs::remove(dir_ / "bin/osslsigncode.signing");
    WriteWholeFile(dir_ / "stop.sh", script);
    ASSERT_EQ(std::system(("sh " + dir_ / "stop.sh").c_str()), 0);
    // The shell reports a process ended by a signal as 128 + its number.
    Bytes status = ReadFile(dir_ / "status");
    EXPECT_GT(std::stoi(std::string(status.begin(), status.end())), 128) << signal;
    ExpectNoInstaller(dir_);
  }
}


TEST_F(PackfileBuildTest, BuildRefusesOutputsAndInputsThatWouldDestroyOrNestInstallers) {
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

TEST_F(PackfileBuildTest, StrictTurnsEveryWarningIntoAnError) {
  WriteWholeFile(dir_ / "files/run.bat", "\xEF\xBB\xBF@echo off\nsetup.exe\n");
  WriteWholeFile(dir_ / "files/SETUP~1.EXE", "x");
  CRun lenient = RunPackfile(BuildArgs(dir_ / "setup.exe", {dir_ / "files"}));
  EXPECT_EQ(lenient.code, 0) << lenient.err;
  for (const char* warning : {"byte-order mark", "LF alone", "short-name alias"}) {
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
                                                            "run-bat-lf", dir_ / "files"}));
  EXPECT_EQ(allowed.code, 1);
  EXPECT_EQ(allowed.err.find("byte-order mark"), std::string::npos) << allowed.err;
  EXPECT_NE(allowed.err.find("(--strict; --allow short-name-alias accepts it)"), std::string::npos) << allowed.err;
  EXPECT_FALSE(fs::exists(dir_ / "setup.exe"));
}

TEST_F(PackfileBuildTest, TheRealLauncherIsRecognisedWithVersionAndArchitecture) {
  if (!fs::exists(UNPACK_LAUNCHER32)) GTEST_SKIP() << "no built launcher at " << UNPACK_LAUNCHER32;
  fs::copy_file(UNPACK_LAUNCHER32, dir_ / "UnPackFile.exe", fs::copy_options::overwrite_existing);
  CRun run = RunPackfile(BuildArgs(dir_ / "setup.exe", {"--strict", dir_ / "files"}));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_NE(run.out.find("unsigned; launcher 2.0.3.352, 32-bit x86\n"), std::string::npos) << run.out;
}

// A deliberate custom stub builds with --allow unknown-launcher, and verify
// then fails it unless given the same; list and verify name what it is.
TEST_F(PackfileBuildTest, AnImageThatIsNotTheLauncherBuildsOnlyWhenAllowed) {
  CPeImageShape other;
  other.versionBlock = false;
  WriteLauncher(dir_ / "UnPackFile.exe", other);
  CRun built = Build({"--allow", "unknown-launcher", dir_ / "files"});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_NE(built.err.find("packfile: note: "), std::string::npos) << built.err;
  EXPECT_NE(built.out.find("; launcher of unknown version, 32-bit x86\n"), std::string::npos) << built.out;
  CRun refused = RunPackfile({"verify", dir_ / "setup.exe"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.out.find("FAIL  not an UnPackFile launcher (it has no version block), 32-bit x86: a package "
                             "appended to it is never extracted"),
            std::string::npos)
      << refused.out;
  CRun allowed = RunPackfile({"verify", "--json", "--allow", "unknown-launcher", dir_ / "setup.exe"});
  EXPECT_EQ(allowed.code, 0) << allowed.out;
  for (const char* part : {"\"launcherKnown\":false,\"launcherVersion\":null,\"launcherArchitecture\":\"32-bit x86\"",
                           "{\"id\":\"launcher\",\"status\":\"warn\"", "accepted as a custom stub"}) {
    EXPECT_NE(allowed.out.find(part), std::string::npos) << part << "\n" << allowed.out;
  }
  std::string why;
  EXPECT_TRUE(MatchesJsonSchema(allowed.out, std::string(PACKFILE_SCHEMAS) + "/verify.schema.json", &why)) << why;
  EXPECT_EQ(RunPackfile({"verify", "--allow", "run-bat-lf", dir_ / "setup.exe"}).code, 2);
  std::string list = ListJson(dir_ / "setup.exe");
  EXPECT_NE(list.find("\"launcherKnown\":false"), std::string::npos) << list;
}

// A list far longer than a command line can hold goes in one build, by file
// or on standard input; NAME=PATH stores a file under another name.
TEST_F(PackfileBuildTest, TenThousandFilesFromAListInOneBuild) {
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

// The stub header's name comes from --stub-name or the launcher's version
// block, never from the launcher file's name.
TEST_F(PackfileBuildTest, TheLauncherFileNameChangesNoByte) {
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
