// What only the host tests share: running packfile, checking its JSON, the
// inputs of a build; the rest comes from the one test-support library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/package_builder.h"
#include "tests/support/pe_writer.h"
#include "tests/support/scratch_folder.h"

using test_support::AppendCertificate;
using test_support::Bytes;
using test_support::BuildPackage;
using test_support::CPatternSource;
using test_support::CScratchFolder;
using test_support::CTestEntry;
using test_support::FixCheckSum;
using test_support::SetSecurityEntry;
using test_support::WriteWholeFile;

// A file's bytes as the package code holds them; empty when it cannot be read.
Bytes ReadFile(const std::string& path);

// The result of running packfile in-process.
struct CRun {
  int code;
  std::string out;
  std::string err;
};
CRun RunPackfile(const std::vector<std::string>& args);
// Runs the built packfile program as a separate process, `input` on its
// standard input: for what only a process shows (standard input, exit status).
CRun RunPackfileProcess(const std::vector<std::string>& args, const std::string& input = "");

// True when `document` validates against the JSON Schema in `schemaPath`
// (through Python's jsonschema); `why` says what failed.
bool MatchesJsonSchema(const std::string& document, const std::string& schemaPath, std::string* why);

// The inputs most build tests start from: UnPackFile.exe (a synthetic PE
// image) and a folder "files" holding run.bat and a 5,000-byte setup.exe.
void WriteBuildInputs(const CScratchFolder& dir);

// A PE launcher image written to `path`.
void WriteLauncher(const std::string& path, const CPeImageShape& shape = CPeImageShape());

// Runs a shell command quietly; its exit status.
int QuietShell(const std::string& command);

// A certificate and its RSA key made at test time, as PEM files: valid from
// `fromDays` to `toDays` days from now, for code signing; self-signed unless
// IssuedBy() names an issuer's certificate and key files; Ca() makes it a CA
// (no extended key usage).
struct CTestCertificate {
  explicit CTestCertificate(std::string name, int from = -1, int to = 2)
      : subject(std::move(name)), fromDays(from), toDays(to) {}
  CTestCertificate& IssuedBy(const std::string& cert, const std::string& key) {
    issuerCert = cert;
    issuerKey = key;
    return *this;
  }
  CTestCertificate& Ca() {
    ca = true;
    extendedKeyUsage.clear();
    return *this;
  }
  std::string subject;  // the common name
  int fromDays, toDays;
  std::string issuerCert, issuerKey;
  std::string extendedKeyUsage = "codeSigning";  // OpenSSL's names; empty: none
  bool ca = false;
};
void MakeCertificate(const CTestCertificate& wanted, const std::string& certPath, const std::string& keyPath);

// The fixture of the tests that sign: a self-signed certificate and its key
// (cert.pem, key.pem), a launcher, run.bat and a 3,001-byte data.bin in dir_.
class CSigningFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  // packfile build --sign with `signing` options, into dir_/out.
  CRun BuildSigned(const std::vector<std::string>& signing, const std::string& out = "setup.exe");
  CScratchFolder dir_;
};

// The fixture of the tests that build from WriteBuildInputs' inputs.
class CBuildFixture : public ::testing::Test {
 protected:
  void SetUp() override { WriteBuildInputs(dir_); }
  // packfile build's arguments with the fixture's launcher, out and extra.
  std::vector<std::string> BuildArgs(const std::string& out, std::vector<std::string> extra);
  // packfile list --json --sha256 on path, which must succeed.
  std::string ListJson(const std::string& path);
  CScratchFolder dir_;
};
