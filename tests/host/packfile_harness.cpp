#include "packfile_harness.h"

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
