// packfile verify on signed installers: the signature's digest, signer,
// time stamp and chain, as text and as JSON.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "gtest/gtest.h"
#include "packfile_harness.h"

namespace fs = std::filesystem;

namespace {

using PackfileVerifyTest = CSigningFixture;

// Swapping two aligned 16-bit words keeps the PE CheckSum, so only the
// signature's digest can tell that the package changed.
TEST_F(PackfileVerifyTest, VerifyChecksTheSignatureOfASignedInstaller) {
  ASSERT_EQ(BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem"}).code, 0);
  CRun good = RunPackfile({"verify", "--ca", dir_ / "cert.pem", dir_ / "setup.exe"});
  EXPECT_EQ(good.code, 0) << good.out;
  for (const char* line : {"ok    SHA256 digest matches the file (osslsigncode verify)\n",
                           "ok    signed by /CN=packfile-test, signing time ", "warn  no time stamp",
                           "ok    certificate chain verifies against "}) {
    EXPECT_NE(good.out.find(line), std::string::npos) << line << "\n" << good.out;
  }
  Bytes file = ReadFile(dir_ / "setup.exe");
  std::size_t a = 1024 + 284;  // run.bat's data: "@e" and "ch", two aligned words
  std::swap(file[a], file[a + 2]);
  std::swap(file[a + 1], file[a + 3]);
  WriteWholeFile(dir_ / "tampered.exe", file);
  CRun tampered = RunPackfile({"verify", dir_ / "tampered.exe"});
  EXPECT_EQ(tampered.code, 1);
  EXPECT_NE(tampered.out.find("FAIL  the file's SHA256 digest "), std::string::npos) << tampered.out;
  EXPECT_NE(tampered.out.find("does not match the signed digest"), std::string::npos) << tampered.out;
  EXPECT_NE(tampered.out.find("FAILED: a launcher refuses it (TRUST_E_BAD_DIGEST)"), std::string::npos) << tampered.out;
  EXPECT_NE(tampered.out.find("ok    signed by /CN=packfile-test, signing time "), std::string::npos) << tampered.out;
  // Every layout line, the CheckSum's included, is that of the untouched file.
  EXPECT_NE(tampered.out.find("ok    PE CheckSum"), std::string::npos) << tampered.out;
  auto layout = [](const std::string& out) { return out.substr(0, out.find("as written\n")); };
  EXPECT_EQ(layout(tampered.out), layout(good.out));

  ASSERT_EQ(QuietShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other -keyout " + dir_ / "other.key" +
                  " -out " + dir_ / "other.pem"),
            0);
  CRun stranger = RunPackfile({"verify", "--ca", dir_ / "other.pem", dir_ / "setup.exe"});
  EXPECT_EQ(stranger.code, 1);
  EXPECT_NE(stranger.out.find("FAIL  certificate chain does not verify against"), std::string::npos) << stranger.out;

  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "plain.exe",
                         dir_ / "run.bat"})
                .code,
            0);
  EXPECT_NE(RunPackfile({"verify", dir_ / "plain.exe"}).out.find("ok    not signed\n"), std::string::npos);
  CRun expected = RunPackfile({"verify", "--ca", dir_ / "cert.pem", dir_ / "plain.exe"});
  EXPECT_EQ(expected.code, 1);
  EXPECT_NE(expected.out.find("FAIL  not signed, but --ca expects a signature\n"), std::string::npos);
}

// A time stamp from a local time-stamp authority (osslsigncode's -TSA-certs):
// shown with its time, read from the token itself, so also once the digest fails.
TEST_F(PackfileVerifyTest, VerifyReportsTheTimeStamp) {
  ASSERT_EQ(QuietShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=packfile-tsa -addext "
                  "extendedKeyUsage=critical,timeStamping -keyout " + dir_ / "tsa.key" + " -out " + dir_ / "tsa.pem"),
            0);
  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "plain.exe",
                         dir_ / "run.bat", dir_ / "data.bin"})
                .code,
            0);
  ASSERT_EQ(QuietShell("osslsigncode sign -certs " + dir_ / "cert.pem" + " -key " + dir_ / "key.pem" + " -h sha256 " +
                  "-TSA-certs " + dir_ / "tsa.pem" + " -TSA-key " + dir_ / "tsa.key" + " -TSA-time 1700000000 -in " +
                  dir_ / "plain.exe" + " -out " + dir_ / "stamped.exe"),
            0);
  CRun stamped = RunPackfile({"verify", dir_ / "stamped.exe"});
  EXPECT_NE(stamped.out.find("ok    time stamp 2023-11-14T22:13:20Z\n"), std::string::npos) << stamped.out;
  // Windows judges the certificate at the time stamp's time, when it was not yet valid.
  EXPECT_NE(stamped.out.find("FAIL  the signer's certificate /CN=packfile-test is valid only from "),
            std::string::npos);
  Bytes file = ReadFile(dir_ / "stamped.exe");
  std::swap(file[1024 + 284], file[1024 + 284 + 2]);
  WriteWholeFile(dir_ / "stamped-changed.exe", file);
  CRun changed = RunPackfile({"verify", dir_ / "stamped-changed.exe"});
  EXPECT_EQ(changed.code, 1);
  EXPECT_NE(changed.out.find("ok    time stamp 2023-11-14T22:13:20Z\n"), std::string::npos) << changed.out;
}

// verify --json names each signature fact and gives each check a stable id.
TEST_F(PackfileVerifyTest, VerifyJsonDescribesTheSignature) {
  // The signing-time attribute alone is in 2027: the certificate is judged now.
  ASSERT_EQ(BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--sign-time", "1800000000"}).code, 0);
  CRun verify = RunPackfile({"verify", "--json", "--ca", dir_ / "cert.pem", dir_ / "setup.exe"});
  std::string why;
  EXPECT_TRUE(MatchesJsonSchema(verify.out, std::string(PACKFILE_SCHEMAS) + "/verify.schema.json", &why))
      << why << verify.out;
  for (const char* part : {"\"signed\":true", "\"subject\":\"/CN=packfile-test\"", "\"issuer\":\"/CN=packfile-test\"",
                           "\"signingTime\":\"2027-01-15T08:00:00Z\"", "\"digestAlgorithm\":\"SHA256\"",
                           "\"digestMatches\":true", "\"timestamped\":false", "\"timestampTime\":null",
                           "{\"id\":\"signature-digest\",\"status\":\"ok\"", "{\"id\":\"signer\",\"status\":\"ok\"",
                           "{\"id\":\"timestamp\",\"status\":\"warn\"", "{\"id\":\"certificate-chain\",\"status\":"}) {
    EXPECT_NE(verify.out.find(part), std::string::npos) << part << "\n" << verify.out;
  }
}

// verify fails, list names and extract refuses (unless --force) exactly what
// a launcher refuses, each damage by the answer the launcher's check gets.
TEST_F(PackfileVerifyTest, VerifyListAndExtractRefuseWhatALauncherRefuses) {
  ASSERT_EQ(BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem"}).code, 0);
  const Bytes good = ReadFile(dir_ / "setup.exe");
  std::uint32_t table = 0;
  std::memcpy(&table, good.data() + 0x40 + 24 + 128, 4);  // the PE32 security entry's address
  // The blob's outer SEQUENCE has a two-byte length; the signer's signature value ends it.
  const std::size_t blobEnd = table + 8 + 4 + (good[table + 10] << 8 | good[table + 11]);
  struct {
    const char* what;
    void (*edit)(Bytes*, std::size_t, std::size_t);
    const char* answer;
  } cases[] = {
      {"a changed entry", [](Bytes* f, std::size_t, std::size_t) { std::swap((*f)[1024 + 284], (*f)[1024 + 286]); },
       "TRUST_E_BAD_DIGEST"},
      {"a changed signature value", [](Bytes* f, std::size_t, std::size_t end) { (*f)[end - 100] ^= 1; },
       "TRUST_E_CERT_SIGNATURE"},
      {"a table of no signature", [](Bytes* f, std::size_t at, std::size_t) { std::fill_n(f->begin() + at + 8, 32, 0xFF); },
       "TRUST_E_NOSIGNATURE"},
      {"cut by 1,000 bytes", [](Bytes* f, std::size_t, std::size_t) { f->resize(f->size() - 1000); },
       "CRYPT_E_FILE_ERROR"},
  };
  for (const auto& c : cases) {
    Bytes file = good;
    c.edit(&file, table, blobEnd);
    WriteWholeFile(dir_ / "bad.exe", file);
    const std::string refused = std::string("a launcher refuses it (") + c.answer + "): it extracts and runs nothing";
    CRun verify = RunPackfile({"verify", dir_ / "bad.exe"});
    EXPECT_EQ(verify.code, 1) << c.what;
    EXPECT_NE(verify.out.find("bad.exe: FAILED: " + refused), std::string::npos) << c.what << "\n" << verify.out;
    CRun extract = RunPackfile({"extract", "--json", dir_ / "bad.exe", dir_ / "out"});
    EXPECT_EQ(extract.code, 1) << c.what;
    EXPECT_NE(extract.err.find(refused), std::string::npos) << c.what << "\n" << extract.err;
    EXPECT_NE(extract.out.find("\"error\":"), std::string::npos) << extract.out;
    EXPECT_FALSE(fs::exists(dir_ / "out")) << c.what;
    // A cut file's stub header is not where its signer put it: nothing to extract, --force or not.
    if (std::string(c.answer) == "CRYPT_E_FILE_ERROR") {
      CRun list = RunPackfile({"list", dir_ / "bad.exe"});
      EXPECT_EQ(list.err.find("packfile: " + dir_ / "bad.exe" + ": the certificate table (offset "), 0u) << list.err;
      continue;
    }
    CRun forced = RunPackfile({"extract", "--force", "--json", dir_ / "bad.exe", dir_ / "out"});
    EXPECT_EQ(forced.code, 0) << c.what << "\n" << forced.err;
    EXPECT_NE(forced.err.find("; extracted all the same (--force)"), std::string::npos) << forced.err;
    std::string why;
    EXPECT_TRUE(MatchesJsonSchema(forced.out, std::string(PACKFILE_SCHEMAS) + "/extract.schema.json", &why)) << why;
    EXPECT_EQ(ReadFile(dir_ / "out/data.bin"), ReadFile(dir_ / "data.bin"));
    fs::remove_all(dir_ / "out");
  }
  EXPECT_EQ(RunPackfile({"extract", dir_ / "setup.exe", dir_ / "out"}).code, 0);
}

}  // namespace
