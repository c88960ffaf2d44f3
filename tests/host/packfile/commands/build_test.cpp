// packfile build through its command line, on real files in a scratch folder.
#include <cstdlib>
#include <filesystem>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "format/package_reader.h"
#include "gtest/gtest.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Only the inputs are left: no installer, no temporary file.
void ExpectNoInstaller(const CScratchFolder& dir) {
  EXPECT_FALSE(fs::exists(dir / "setup.exe"));
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename().string().find(".setup.exe."), std::string::npos) << entry.path();
  }
}

class PackfileBuildTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteBuildInputs(dir_); }

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

  CScratchFolder dir_;
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
  };
  for (const CRefusal& c : cases) {
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

TEST_F(PackfileBuildTest, WarnsAboutLongNamesButBuilds) {
  WriteWholeFile(dir_ / ("files/" + std::string(201, 'w')), "x");
  CRun run = Build({dir_ / "files"});
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
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

TEST_F(PackfileBuildTest, ExtractWritesWhatWasPacked) {
  WriteWholeFile(dir_ / "files/caf\xC3\xA9.txt", "accent");
  ASSERT_EQ(Build({dir_ / "files"}).code, 0);
  CRun run = RunPackfile({"extract", dir_ / "setup.exe", dir_ / "out"});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* name : {"run.bat", "setup.exe", "caf\xC3\xA9.txt"}) {
    EXPECT_EQ(ReadFile(dir_ / (std::string("out/") + name)), ReadFile(dir_ / (std::string("files/") + name))) << name;
  }
  CRun again = RunPackfile({"extract", dir_ / "setup.exe", dir_ / "out"});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
  EXPECT_EQ(RunPackfile({"extract", "--force", dir_ / "setup.exe", dir_ / "out"}).code, 0);
}

TEST_F(PackfileBuildTest, ExtractRefusesACutEntry) {
  ASSERT_EQ(Build({dir_ / "files"}).code, 0);
  Bytes file = ReadFile(dir_ / "setup.exe");
  Bytes stub(file.end() - 284, file.end());
  file.resize(file.size() - 284 - 100);
  file.insert(file.end(), stub.begin(), stub.end());
  WriteWholeFile(dir_ / "cut.exe", file);
  CRun run = RunPackfile({"extract", dir_ / "cut.exe", dir_ / "out"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("run past the stub header"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));
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
  // The synthetic image has no version block; nothing else may be warned about.
  std::string::size_type launcherWarning = run.err.find("not an UnPackFile launcher");
  EXPECT_NE(launcherWarning, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("warning", run.err.find('\n', launcherWarning)), std::string::npos) << run.err;
  CRun list = RunPackfile({"list", dir_ / "setup.exe"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("entries: 2"), std::string::npos) << list.out;
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

TEST_F(PackfileBuildTest, EveryCommandHasHelp) {
  for (const char* command : {"build", "list", "verify", "extract"}) {
    CRun run = RunPackfile({command, "--help"});
    EXPECT_EQ(run.code, 0) << command;
    EXPECT_EQ(run.out.rfind(std::string("usage: packfile ") + command, 0), 0u) << run.out;
  }
  EXPECT_EQ(RunPackfile({"--help"}).code, 0);
  EXPECT_EQ(RunPackfile({"pack"}).code, 2);
  EXPECT_EQ(RunPackfile({"list"}).code, 2);
  EXPECT_EQ(RunPackfile({"build", "--launcher"}).code, 2);
}

}  // namespace
