// Signing through osslsigncode, with a certificate made at test time.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "gtest/gtest.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "packfile_harness.h"
#include "tests/support/memory_bytes.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;

namespace {

class PackfileSignTest : public CSigningFixture {
 protected:
  // The certificate table must start right where the unsigned package ended.
  void ExpectTableAfterStub(std::uint64_t unsignedLength) {
    Bytes file = ReadFile(dir_ / "setup.exe");
    CMemorySource source(file);
    CPeImage image;
    std::string error;
    ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
    CPeDataDirectory table = PeDirectory(image, kPeSecurityDirectory);
    EXPECT_EQ(table.virtualAddress, unsignedLength);
    EXPECT_EQ(table.virtualAddress + table.size, file.size());
    PACKFILE_HEADER stub = DecodeRecord(file.data() + table.virtualAddress - kPackHeaderSize);
    EXPECT_EQ(stub.size, 1024u);
    EXPECT_EQ(RecordName(stub), "UnPackFile.exe");
    // osslsigncode writes the CheckSum itself: an independent check of ours.
    std::uint32_t sum = 0;
    ASSERT_TRUE(ComputePeChecksum(source, image.checkSumOffset, &sum));
    EXPECT_EQ(sum, image.checkSum);
  }
};

// Image, run.bat (11 bytes), data.bin (3,001), no filler needed, stub header.
constexpr std::uint64_t kUnsignedLength = 1024 + 284 + 11 + 284 + 3001 + 284;

TEST_F(PackfileSignTest, SignsWithCertificateAndKey) {
  CRun run = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem"});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectTableAfterStub(kUnsignedLength);
  CRun verify = RunPackfile({"verify", dir_ / "setup.exe"});
  EXPECT_EQ(verify.code, 0) << verify.out;
  CRun list = RunPackfile({"list", dir_ / "setup.exe"});
  EXPECT_NE(list.out.find("header offset: 1024\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("certificate table: 0 bytes"), std::string::npos) << list.out;
  // The signature covers the package: valid as written, broken by a changed byte.
  std::string check = "osslsigncode verify -CAfile " + dir_ / "cert.pem" + " -in ";
  EXPECT_EQ(QuietShell(check + dir_ / "setup.exe"), 0);
  Bytes file = ReadFile(dir_ / "setup.exe");
  file[1024 + 284 + 3] ^= 1;
  WriteWholeFile(dir_ / "changed.exe", file);
  EXPECT_NE(QuietShell(check + dir_ / "changed.exe"), 0);
}

TEST_F(PackfileSignTest, SignsWithAPkcs12File) {
  ASSERT_EQ(QuietShell("openssl pkcs12 -export -passout pass:secret -inkey " + dir_ / "key.pem" + " -in " +
                  dir_ / "cert.pem" + " -out " + dir_ / "id.p12"),
            0);
  WriteWholeFile(dir_ / "pass.txt", "secret");
  CRun run = BuildSigned({"--pkcs12", dir_ / "id.p12", "--pass-file", dir_ / "pass.txt", "--sign-hash", "sha256"});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectTableAfterStub(kUnsignedLength);
}

TEST_F(PackfileSignTest, SaysSoWhenTheSignerFailsOrIsMissing) {
  CRun badKey = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "run.bat"});
  EXPECT_EQ(badKey.code, 1);
  EXPECT_NE(badKey.err.find("osslsigncode failed"), std::string::npos) << badKey.err;
  EXPECT_FALSE(fs::exists(dir_ / "setup.exe"));

  std::string path = std::getenv("PATH");
  fs::create_directory(dir_ / "empty");
  setenv("PATH", (dir_ / "empty").c_str(), 1);
  CRun missing = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem"});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(missing.code, 3);  // the job, not the artefact, is broken
  EXPECT_NE(missing.err.find("osslsigncode was not found"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir_ / "setup.exe"));
}

// Each way signing goes wrong names its cause, and nothing is written.
TEST_F(PackfileSignTest, EachSigningFailureShowsItsCause) {
  ASSERT_EQ(QuietShell("openssl pkcs12 -export -passout pass:secret -inkey " + dir_ / "key.pem" + " -in " +
                  dir_ / "cert.pem" + " -out " + dir_ / "id.p12"),
            0);
  ASSERT_EQ(QuietShell("openssl rsa -aes256 -passout pass:secret -in " + dir_ / "key.pem" + " -out " + dir_ / "enc.pem"),
            0);
  MakeCertificate(CTestCertificate("other"), dir_ / "other.pem", dir_ / "other.key");
  WriteWholeFile(dir_ / "wrong.txt", "wrong");
  setenv("PACKFILE_TEST_WRONG", "wrong", 1);
  unsetenv("PACKFILE_TEST_UNSET");
  struct {
    std::vector<std::string> signing;
    int code;
    const char* cause;
  } cases[] = {
      {{"--pkcs12", dir_ / "id.p12", "--pass-file", dir_ / "wrong.txt"}, 1, "osslsigncode: Failed to parse PKCS#12"},
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "enc.pem"}, 1, "is encrypted: give its password"},
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "enc.pem", "--pass-env", "PACKFILE_TEST_WRONG"}, 1,
       "osslsigncode: Failed to decode private key file"},
      {{"--cert", dir_ / "missing.pem", "--key", dir_ / "key.pem"}, 3,
       "missing.pem cannot be read: No such file or directory"},
      {{"--pkcs12", dir_ / "id.p12", "--pass-env", "PACKFILE_TEST_UNSET"}, 3, "PACKFILE_TEST_UNSET is not set"},
      // Every service is tried, twice each, during the trial signature: an outage stops the build first.
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--timestamp", "http://127.0.0.1:9/", "--timestamp",
        "http://127.0.0.1:7/"},
       3,
       "nothing was built: no time-stamp service answered; tried:\n  http://127.0.0.1:9/ (attempt 1): Connection "
       "refused (connect(127.0.0.1, 9))\n"},
      // Nothing can be judged against a --ca that holds no certificate: the job failed.
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--ca", dir_ / "run.bat"}, 3,
       "run.bat: holds no PEM certificate"},
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--chain", dir_ / "run.bat"}, 1,
       "run.bat holds no PEM certificate"},
      // Under --json the error keeps the tool's lines as real line breaks.
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "other.key", "--json"}, 1,
       "osslsigncode failed (exit 255)\n  osslsigncode: "},
      {{"--pkcs12", dir_ / "id.p12", "--pass", "secret"}, 2, "password on a command line"},
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--sign-time", "yesterday"}, 2, "seconds since 1970"},
      {{"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--sign-hash", "md5"}, 2, "sha256 or sha1"},
  };
  for (const auto& c : cases) {
    CRun run = BuildSigned(c.signing);
    if (c.code == 3 && c.signing.size() > 6) {
      EXPECT_NE(run.err.find("http://127.0.0.1:7/ (attempt 2): "), std::string::npos) << run.err;
    }
    EXPECT_EQ(run.code, c.code) << c.cause << "\n" << run.err;
    EXPECT_NE(run.err.find(c.cause), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "setup.exe")) << c.cause;
    if (c.signing.back() == "--json") {
      EXPECT_NE(run.out.find("(exit 255)\\n  osslsigncode: "), std::string::npos) << run.out;
    }
  }
}

// With a fixed signing time a signed build is the same bytes every time, and
// signing an unsigned build later gives those bytes too.
TEST_F(PackfileSignTest, AFixedSigningTimeMakesSignedBuildsIdentical) {
  ASSERT_EQ(QuietShell("openssl rsa -aes256 -passout pass:secret -in " + dir_ / "key.pem" + " -out " + dir_ / "enc.pem"),
            0);
  setenv("PACKFILE_TEST_PASS", "secret", 1);
  // Last January, as a pipeline sets it to its last commit's time: before the
  // certificate was made today, which is judged now all the same.
  std::time_t now = std::time(nullptr);
  std::tm january = {};
  january.tm_year = std::gmtime(&now)->tm_year - 1;
  january.tm_mday = 15;
  const std::string epoch = std::to_string(timegm(&january));
  setenv("SOURCE_DATE_EPOCH", epoch.c_str(), 1);
  std::vector<std::string> signing = {"--cert", dir_ / "cert.pem", "--key", dir_ / "enc.pem", "--pass-env",
                                      "PACKFILE_TEST_PASS", "--description", "Product setup", "--url",
                                      "https://example.invalid/"};
  CRun first = BuildSigned(signing, "first.exe");
  CRun second = BuildSigned(signing, "second.exe");
  unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(first.code, 0) << first.err;
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_EQ(ReadFile(dir_ / "first.exe"), ReadFile(dir_ / "second.exe"));

  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "later.exe",
                         dir_ / "run.bat", dir_ / "data.bin"})
                .code,
            0);
  std::vector<std::string> sign = {"sign", "--sign-time", epoch, "--out", dir_ / "later-signed.exe"};
  sign.insert(sign.end(), signing.begin(), signing.end());
  sign.push_back(dir_ / "later.exe");
  CRun later = RunPackfile(sign);
  ASSERT_EQ(later.code, 0) << later.err;
  EXPECT_EQ(ReadFile(dir_ / "later-signed.exe"), ReadFile(dir_ / "first.exe"));
  // A signed file is not signed again.
  sign.back() = dir_ / "first.exe";
  EXPECT_NE(RunPackfile(sign).err.find("already signed"), std::string::npos);
  // Signed in place, an executable installer stays executable.
  fs::permissions(dir_ / "later.exe", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  sign.erase(sign.begin() + 3, sign.begin() + 5);  // no --out
  sign.back() = dir_ / "later.exe";
  ASSERT_EQ(RunPackfile(sign).code, 0);
  EXPECT_EQ(ReadFile(dir_ / "later.exe"), ReadFile(dir_ / "first.exe"));
  EXPECT_EQ(fs::status(dir_ / "later.exe").permissions(),
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// A local RFC 3161 service (openssl ts behind Python's HTTP server) that
// answers its first request with 503: the dead first service is tried twice,
// the second answers on its retry, and the signature carries its time stamp.
TEST_F(PackfileSignTest, TimestampServicesAreTriedInOrderAndRetried) {
  WriteWholeFile(dir_ / "ts.cnf",
                 "[ tsa ]\ndefault_tsa = t\n[ t ]\nserial = " + dir_ / "serial" +
                     "\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                     "ess_cert_id_alg = sha256\n");
  WriteWholeFile(dir_ / "serial", "01\n");
  ASSERT_EQ(QuietShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=tsa -addext "
                  "extendedKeyUsage=critical,timeStamping -keyout " + dir_ / "tsa.key" + " -out " + dir_ / "tsa.pem"),
            0);
  WriteWholeFile(dir_ / "tsa.py", R"(import http.server, subprocess, sys, os
here, served = sys.argv[1], [0]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        open(os.path.join(here, "query"), "wb").write(self.rfile.read(int(self.headers["Content-Length"])))
        served[0] += 1
        open(os.path.join(here, "requests"), "w").write(str(served[0]))
        if served[0] == 1:
            self.send_response(503); self.end_headers(); return
        subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(here, "ts.cnf"), "-queryfile",
                        os.path.join(here, "query"), "-signer", os.path.join(here, "tsa.pem"), "-inkey",
                        os.path.join(here, "tsa.key"), "-out", os.path.join(here, "reply")], check=True)
        reply = open(os.path.join(here, "reply"), "rb").read()
        self.send_response(200); self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply))); self.end_headers(); self.wfile.write(reply)
    def log_message(self, *args): pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
open(os.path.join(here, "port.tmp"), "w").write(str(server.server_port)); os.rename(os.path.join(here, "port.tmp"), os.path.join(here, "port"))
server.serve_forever()
)");
  ASSERT_EQ(std::system(("python3 " + dir_ / "tsa.py" + " " + dir_.Path().string() + " >/dev/null 2>&1 & echo $! >" +
                         dir_ / "tsa.pid").c_str()),
            0);
  struct CStopService {
    std::string pidFile;
    ~CStopService() {
      Bytes pid = ReadFile(pidFile);
      if (!pid.empty()) QuietShell("kill " + std::string(pid.begin(), pid.end()));
    }
  } stop{dir_ / "tsa.pid"};
  for (int k = 0; k < 100 && !fs::exists(dir_ / "port"); ++k) QuietShell("sleep 0.1");
  Bytes port = ReadFile(dir_ / "port");
  ASSERT_FALSE(port.empty()) << "the local time-stamp service did not start";
  std::string live = "http://127.0.0.1:" + std::string(port.begin(), port.end()) + "/";
  CRun run = BuildSigned({"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--timestamp",
                          "http://127.0.0.1:9/", "--timestamp", live});
  ASSERT_EQ(run.code, 0) << run.err;
  // 503, then the trial's time stamp, then the package's: the dead service is not asked again.
  Bytes requests = ReadFile(dir_ / "requests");
  EXPECT_EQ(std::string(requests.begin(), requests.end()), "3");
  // The fallback is noted, each failed attempt with the service's own reason.
  for (const std::string& line :
       {"packfile: note: the time-stamp service " + live + " time stamped the signature after these attempts failed:\n",
        std::string("  http://127.0.0.1:9/ (attempt 2): Connection refused (connect(127.0.0.1, 9))\n"),
        "  " + live + " (attempt 1): HTTP 503 Service Unavailable\n"}) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
  }
  CRun verify = RunPackfile({"verify", dir_ / "setup.exe"});
  EXPECT_NE(verify.out.find("ok    time stamp "), std::string::npos) << verify.out;
  // sign --json names the service that answered and its time, in ISO 8601.
  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "plain.exe", dir_ / "run.bat"})
                .code,
            0);
  CRun sign = RunPackfile({"sign", "--json", "--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--timestamp",
                           live, dir_ / "plain.exe"});
  EXPECT_EQ(sign.code, 0) << sign.err;
  EXPECT_NE(sign.out.find("\"timestampService\":\"" + live + "\""), std::string::npos) << sign.out;
  EXPECT_TRUE(std::regex_search(sign.out, std::regex("\"timestampTime\":\"20[0-9-]{8}T[0-9:]{8}Z\""))) << sign.out;
  std::string why;
  EXPECT_TRUE(MatchesJsonSchema(sign.out, std::string(PACKFILE_SCHEMAS) + "/sign.schema.json", &why)) << why;
}

// Certificates Windows rejects are refused before anything is built, unless
// --allow names the refusal; validity is judged now, whatever the signing
// time says. verify judges the signer the same way without --ca, and passes
// osslsigncode's reason through with it.
TEST_F(PackfileSignTest, RefusesACertificateWindowsRejects) {
  ASSERT_EQ(QuietShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=web -addext "
                  "extendedKeyUsage=serverAuth -keyout " + dir_ / "web.key" + " -out " + dir_ / "web.pem"),
            0);
  MakeCertificate(CTestCertificate("old", -1100, -700), dir_ / "old.pem", dir_ / "old.key");
  MakeCertificate(CTestCertificate("future", 10, 20), dir_ / "future.pem", dir_ / "future.key");
  const std::string whileValid = std::to_string(std::time(nullptr) - 900 * 86400);
  const std::string whenValid = std::to_string(std::time(nullptr) + 15 * 86400);
  struct {
    std::vector<std::string> signing;
    const char* out;
    int code;
    const char* says;
  } cases[] = {
      {{"--cert", dir_ / "web.pem", "--key", dir_ / "web.key"}, "web.exe", 1,
       "/CN=web lacks the code-signing purpose (extended key usage 1.3.6.1.5.5.7.3.3): Windows rejects the "
       "signature; --allow certificate-purpose signs anyway"},
      {{"--cert", dir_ / "old.pem", "--key", dir_ / "old.key", "--sign-time", whileValid}, "old.exe", 1,
       "/CN=old expired on "},
      {{"--cert", dir_ / "future.pem", "--key", dir_ / "future.key", "--sign-time", whenValid}, "future.exe", 1,
       "is valid only from "},
      {{"--cert", dir_ / "web.pem", "--key", dir_ / "web.key", "--allow", "certificate-purpose"}, "web.exe", 0,
       "note: the signing certificate /CN=web lacks the code-signing purpose"},
      {{"--cert", dir_ / "old.pem", "--key", dir_ / "old.key", "--allow", "certificate-expired"}, "old.exe", 0,
       ", before now ("},
  };
  for (const auto& c : cases) {
    CRun run = BuildSigned(c.signing, c.out);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(fs::exists(dir_ / c.out), c.code == 0);
  }
  CRun verify = RunPackfile({"verify", "--ca", dir_ / "web.pem", dir_ / "web.exe"});
  EXPECT_EQ(verify.code, 1);
  EXPECT_NE(verify.out.find("osslsigncode: Unsupported Signer's certificate purpose XKU_CODE_SIGN (the signer's "
                            "certificate lacks the code-signing purpose)"),
            std::string::npos)
      << verify.out;
  struct {
    const char* file;
    int code;
    const char* says;
  } verified[] = {
      {"web.exe", 1, "FAIL  the signer's certificate /CN=web lacks the code-signing purpose"},
      {"old.exe", 1, "FAIL  the signer's certificate /CN=old expired on "},
  };
  for (const auto& v : verified) {
    CRun run = RunPackfile({"verify", dir_ / v.file});
    EXPECT_EQ(run.code, v.code) << run.out;
    EXPECT_NE(run.out.find(v.says), std::string::npos) << run.out;
  }
}

// A leaf issued by an intermediate: without --chain the signer warns (an
// error under --strict) and the chain does not reach the root; --chain, or
// a PKCS#12 that carries the intermediate, embeds it.
TEST_F(PackfileSignTest, ChainsAreEmbeddedAndCheckedAgainstTheRoot) {
  MakeCertificate(CTestCertificate("root", -1, 30).Ca(), dir_ / "root.pem", dir_ / "root.key");
  MakeCertificate(CTestCertificate("inter", -1, 30).Ca().IssuedBy(dir_ / "root.pem", dir_ / "root.key"),
                  dir_ / "inter.pem", dir_ / "inter.key");
  MakeCertificate(CTestCertificate("leaf").IssuedBy(dir_ / "inter.pem", dir_ / "inter.key"), dir_ / "leaf.pem",
                  dir_ / "leaf.key");
  for (const char* p12 : {"leaf", "chain"}) {
    ASSERT_EQ(QuietShell("openssl pkcs12 -export -passout pass:secret -inkey " + dir_ / "leaf.key" + " -in " +
                         dir_ / "leaf.pem" + (std::string(p12) == "chain" ? " -certfile " + dir_ / "inter.pem" : "") +
                         " -out " + dir_ / p12 + ".p12"),
              0);
  }
  WriteWholeFile(dir_ / "pass.txt", "secret");
  const std::vector<std::string> leaf = {"--cert", dir_ / "leaf.pem", "--key", dir_ / "leaf.key"};
  const std::vector<std::string> pass = {"--pass-file", dir_ / "pass.txt"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct {
    std::vector<std::string> signing;
    int code;
    bool warned;
    int verified;  // verify --ca root.pem
    std::string says;
  } cases[] = {
      {leaf, 0, true, 1, "a leaf issued directly by a root every machine trusts needs nothing more"},
      {with(leaf, {"--strict"}), 1, false, -1, "(--strict; --allow chain-incomplete accepts it)"},
      // --ca judges the trial's signature, before the package is written.
      {with(leaf, {"--ca", dir_ / "root.pem"}), 1, true, -1,
       "nothing was built: the signed launcher image's chain does not verify against --ca " + dir_ / "root.pem" +
           "\n  certificate chain does not verify against " + dir_ / "root.pem" +
           ": osslsigncode: unable to get local issuer certificate\n"},
      {with(leaf, {"--chain", dir_ / "inter.pem", "--ca", dir_ / "root.pem"}), 0, false, 0, ""},
      {with({"--pkcs12", dir_ / "chain.p12"}, pass), 0, false, 0, ""},
      {with({"--pkcs12", dir_ / "leaf.p12", "--chain", dir_ / "inter.pem"}, pass), 0, false, 0, ""},
  };
  for (const auto& c : cases) {
    fs::remove(dir_ / "setup.exe");
    CRun run = BuildSigned(c.signing);
    std::string row = run.err + c.signing.back();
    EXPECT_EQ(run.code, c.code) << row;
    EXPECT_EQ(run.err.find("warning [chain-incomplete]: the signing certificate /CN=leaf was issued by /CN=inter, "
                           "which is not embedded") != std::string::npos,
              c.warned)
        << row;
    EXPECT_EQ(fs::exists(dir_ / "setup.exe"), c.code == 0) << row;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << row;
    if (c.verified < 0) continue;
    CRun verify = RunPackfile({"verify", "--ca", dir_ / "root.pem", dir_ / "setup.exe"});
    EXPECT_EQ(verify.code, c.verified) << row << verify.out;
  }
}

// A key that never leaves a token: a SoftHSM token made here, its key used
// through osslsigncode's PKCS#11 engine, the PIN from a variable.
TEST_F(PackfileSignTest, SignsWithAKeyInAHardwareToken) {
  const std::string module = "/usr/lib/softhsm/libsofthsm2.so";
  if (QuietShell("command -v softhsm2-util") != 0 || !fs::exists(module) ||
      QuietShell("openssl engine pkcs11") != 0) {
    GTEST_SKIP() << "softhsm2 or libengine-pkcs11-openssl is not installed";
  }
  fs::create_directory(dir_ / "tokens");
  WriteWholeFile(dir_ / "softhsm2.conf", "directories.tokendir = " + dir_ / "tokens" + "\nobjectstore.backend = file\n");
  setenv("SOFTHSM2_CONF", (dir_ / "softhsm2.conf").c_str(), 1);
  ASSERT_EQ(QuietShell("softhsm2-util --init-token --free --label release --pin 1234 --so-pin 5678"), 0);
  ASSERT_EQ(QuietShell("openssl pkcs8 -topk8 -nocrypt -in " + dir_ / "key.pem" + " -out " + dir_ / "key.p8"), 0);
  ASSERT_EQ(QuietShell("softhsm2-util --import " + dir_ / "key.p8" + " --token release --label signer --id 01 --pin 1234"),
            0);
  fs::remove(dir_ / "key.pem");  // the key is in the token only
  setenv("PACKFILE_TEST_PIN", "1234", 1);
  CRun run = BuildSigned({"--cert", dir_ / "cert.pem", "--key", "pkcs11:token=release;object=signer",
                          "--pkcs11-module", module, "--pass-env", "PACKFILE_TEST_PIN"});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectTableAfterStub(kUnsignedLength);
  CRun verify = RunPackfile({"verify", "--ca", dir_ / "cert.pem", dir_ / "setup.exe"});
  EXPECT_EQ(verify.code, 0) << verify.out;
  // A wrong PIN shows the token's refusal; a pkcs11: key needs its module.
  setenv("PACKFILE_TEST_PIN", "0000", 1);
  CRun wrong = BuildSigned({"--cert", dir_ / "cert.pem", "--key", "pkcs11:token=release;object=signer",
                            "--pkcs11-module", module, "--pass-env", "PACKFILE_TEST_PIN"}, "other.exe");
  EXPECT_EQ(wrong.code, 1);
  EXPECT_NE(wrong.err.find("osslsigncode: Login failed"), std::string::npos) << wrong.err;
  unsetenv("PKCS11_MODULE_PATH");
  EXPECT_EQ(BuildSigned({"--cert", dir_ / "cert.pem", "--key", "pkcs11:token=release;object=signer"}).code, 2);
  unsetenv("SOFTHSM2_CONF");
}

// Signing elsewhere (here osslsigncode itself stands in for the signer of a
// signing service) and checking with packfile verify: the unsigned build's
// length is a multiple of 8, so the certificate table lands where a
// launcher looks.
TEST_F(PackfileSignTest, YourOwnSignerThenVerify) {
  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "unsigned.exe",
                         dir_ / "run.bat", dir_ / "data.bin"})
                .code,
            0);
  EXPECT_EQ(fs::file_size(dir_ / "unsigned.exe") % 8, 0u);
  ASSERT_EQ(QuietShell("osslsigncode sign -certs " + dir_ / "cert.pem" + " -key " + dir_ / "key.pem" + " -in " +
                  dir_ / "unsigned.exe" + " -out " + dir_ / "signed.exe"),
            0);
  CRun verify = RunPackfile({"verify", "--ca", dir_ / "cert.pem", dir_ / "signed.exe"});
  EXPECT_EQ(verify.code, 0) << verify.out;
}

// A signal while the signing tool waits on a time-stamp service that never
// answers (a listener here that accepts nothing) ends the tool's whole group
// and leaves nothing in TMPDIR or the output folder; after SIGKILL, which no
// handler sees, the tool still ends and the next build names what was left.
TEST_F(PackfileSignTest, ASignalEndsTheSigningToolAndLeavesNothing) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  struct CClose {
    int fd;
    ~CClose() { close(fd); }
  } closeListener{listener};
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silent = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "plain.exe", dir_ / "run.bat"})
                .code,
            0);
  fs::create_directories(dir_ / "tmp");
  fs::create_directories(dir_ / "out");
  const std::vector<std::string> signer = {"--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--timestamp",
                                           silent};
  std::vector<std::string> build = {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "out/setup.exe",
                                    "--sign", dir_ / "run.bat"};
  std::vector<std::string> sign = {"sign", "--out", dir_ / "out/signed.exe", dir_ / "plain.exe"};
  build.insert(build.end() - 1, signer.begin(), signer.end());
  sign.insert(sign.end() - 1, signer.begin(), signer.end());
  struct {
    const std::vector<std::string>& args;
    int signal;
  } cases[] = {{build, SIGTERM}, {sign, SIGINT}, {sign, SIGHUP}, {sign, SIGKILL}};
  for (const auto& c : cases) {
    pid_t pid = fork();
    if (pid == 0) {
      setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
      std::vector<char*> argv = {const_cast<char*>(PACKFILE_BINARY)};
      for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execv(PACKFILE_BINARY, argv.data());
      _exit(127);
    }
    ASSERT_GT(pid, 0);
    // The signing tool has connected and waits for an answer that never comes.
    pollfd waiting = {listener, POLLIN, 0};
    bool connected = test_support::WaitUntil([&] { return poll(&waiting, 1, 0) == 1; }, std::chrono::seconds(60));
    if (c.signal == SIGINT) {
      // A live run's temporary output is locked: another build beside it does not take it for a leftover.
      CRun beside = RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "out/beside.exe",
                                 dir_ / "run.bat"});
      EXPECT_EQ(beside.err.find("leftover-output"), std::string::npos) << beside.err;
      fs::remove(dir_ / "out/beside.exe");
    }
    kill(pid, c.signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(connected) << c.args[0];
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.args[0] << " " << status;
    int accepted = accept(listener, nullptr, nullptr);
    // Once the tool has ended, its connection reads as closed after its request.
    bool ended = test_support::WaitUntil(
        [&] {
          char buffer[4096];
          ssize_t got;
          while ((got = recv(accepted, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
          }
          return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        },
        std::chrono::seconds(60));
    EXPECT_TRUE(ended) << "the signing tool still runs after " << c.signal;
    close(accepted);
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << c.signal;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir_ / "out")) left.push_back(entry.path().filename());
    EXPECT_EQ(left.size(), c.signal == SIGKILL ? 1u : 0u) << c.signal;
    if (c.signal != SIGKILL || left.empty()) continue;
    CRun next = RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "out/setup.exe",
                             dir_ / "run.bat"});
    EXPECT_EQ(next.code, 0);
    EXPECT_NE(next.err.find("warning [leftover-output]: " + dir_ / "out/" + left[0] + " ("), std::string::npos)
        << next.err;
  }
}

// A full file system is a job that could not be done (exit 3), said in the
// system's words, whether packfile or the signing tool was writing; nothing
// is left on it.
TEST_F(PackfileSignTest, AFullFileSystemIsAJobFailureInTheSystemsWords) {
  const std::string small = dir_ / "small";
  QuietShell(std::string(UNPACK_SMALL_FS_SCRIPT) + " start " + small);
  struct CUnmount {
    std::string dir;
    ~CUnmount() { QuietShell(std::string(UNPACK_SMALL_FS_SCRIPT) + " stop " + dir); }
  } unmount{small};
  if (!fs::exists(small + "/mounted")) GTEST_SKIP() << "no small file system here (it needs root and tmpfs)";
  WriteWholeFile(dir_ / "big.bin", std::string(1200 * 1024, 'b'));
  ASSERT_EQ(RunPackfile({"build", "--launcher", dir_ / "UnPackFile.exe", "--out", dir_ / "big.exe", dir_ / "run.bat",
                         dir_ / "big.bin"})
                .code,
            0);
  const std::vector<std::string> cases[] = {
      {"build", "--launcher", dir_ / "UnPackFile.exe", "--out", small + "/setup.exe", dir_ / "run.bat",
       dir_ / "big.bin"},
      {"sign", "--cert", dir_ / "cert.pem", "--key", dir_ / "key.pem", "--out", small + "/signed.exe",
       dir_ / "big.exe"},
  };
  for (const auto& args : cases) {
    CRun run = RunPackfile(args);
    EXPECT_EQ(run.code, 3) << run.err;
    EXPECT_NE(run.err.find(": No space left on device"), std::string::npos) << run.err;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(small)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"mounted"}) << args[0];
  }
}

}  // namespace
