#include "packfile_harness.h"

#include <cstdlib>
#include <sstream>

#include "gtest/gtest.h"
#include "tests/support/command_line.h"
#include "tests/support/host_shell_posix.h"
#include "tools/packfile/cli/packfile.h"

using test_support::ReadWholeFile;
using test_support::Shell;
using test_support::ShellQuote;

Bytes ReadFile(const std::string& path) {
  std::string bytes = test_support::ReadWholeFile(path);
  return Bytes(bytes.begin(), bytes.end());
}

CRun RunPackfile(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int code = PackfileMain(args, out, err);
  return CRun{code, out.str(), err.str()};
}

CRun RunPackfileProcess(const std::vector<std::string>& args, const std::string& input) {
#ifdef PACKFILE_BINARY
  CScratchFolder io;
  WriteWholeFile(io / "in", input);
  std::string command = ShellQuote(PACKFILE_BINARY);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  command += " <" + ShellQuote(io / "in") + " >" + ShellQuote(io / "out") + " 2>" + ShellQuote(io / "err");
  return CRun{Shell(command), ReadWholeFile(io / "out"), ReadWholeFile(io / "err")};
#else
  ADD_FAILURE() << "built without PACKFILE_BINARY";
  return CRun{-1, "", ""};
#endif
}

bool MatchesJsonSchema(const std::string& document, const std::string& schemaPath, std::string* why) {
  CScratchFolder dir;
  WriteWholeFile(dir / "doc.json", document);
  WriteWholeFile(dir / "check.py",
            "import json, sys, jsonschema\n"
            "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))\n");
  // The first Python that has jsonschema (Debian's python3-jsonschema).
  std::string command = "for p in python3 /usr/bin/python3; do $p -c 'import jsonschema' 2>/dev/null && exec $p " +
                        ShellQuote(dir / "check.py") + " " + ShellQuote(dir / "doc.json") + " " + ShellQuote(schemaPath) +
                        " >" + ShellQuote(dir / "why") + " 2>&1; done; echo no python with jsonschema >" +
                        ShellQuote(dir / "why") + "; exit 1";
  int status = Shell(command);
  *why = ReadWholeFile(dir / "why");
  return status == 0;
}

void WriteBuildInputs(const CScratchFolder& dir) {
  WriteLauncher(dir / "UnPackFile.exe");
  std::filesystem::create_directory(dir / "files");
  WriteWholeFile(dir / "files/run.bat", "@echo off\r\nsetup.exe /quiet\r\n");
  WriteWholeFile(dir / "files/setup.exe", std::string(5000, 'S'));
}

void WriteLauncher(const std::string& path, const CPeImageShape& shape) { WriteWholeFile(path, MakePeImage(shape)); }

int QuietShell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

void CSigningFixture::SetUp() {
  ASSERT_EQ(QuietShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=packfile-test -keyout " +
                       dir_ / "key.pem" + " -out " + dir_ / "cert.pem"),
            0);
  WriteLauncher(dir_ / "UnPackFile.exe");
  WriteWholeFile(dir_ / "run.bat", "@echo off\r\n");
  WriteWholeFile(dir_ / "data.bin", std::string(3001, 'd'));
}

CRun CSigningFixture::BuildSigned(const std::vector<std::string>& signing, const std::string& out) {
  std::vector<std::string> args = {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / out, "--sign"};
  args.insert(args.end(), signing.begin(), signing.end());
  args.insert(args.end(), {dir_ / "run.bat", dir_ / "data.bin"});
  return RunPackfile(args);
}

std::vector<std::string> CBuildFixture::BuildArgs(const std::string& out, std::vector<std::string> extra) {
  std::vector<std::string> args = {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", out};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::string CBuildFixture::ListJson(const std::string& path) {
  CRun list = RunPackfile({"list", "--json", "--sha256", path});
  EXPECT_EQ(list.code, 0) << list.err;
  return list.out;
}
