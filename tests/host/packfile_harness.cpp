#include "packfile_harness.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "gtest/gtest.h"
#include "tests/support/argument_quoting.h"
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

namespace {

using CBio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using CKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CCert = std::unique_ptr<X509, decltype(&X509_free)>;

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  ASSERT_NE(extension, nullptr) << value;
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

template <typename Read>
auto ReadPem(const std::string& path, Read read) {
  CBio file(BIO_new_file(path.c_str(), "r"), &BIO_free);
  return read(file.get(), nullptr, nullptr, nullptr);
}

}  // namespace

void MakeCertificate(const CTestCertificate& wanted, const std::string& certPath, const std::string& keyPath) {
  CKey key(EVP_RSA_gen(2048), &EVP_PKEY_free);
  CCert certificate(X509_new(), &X509_free);
  ASSERT_TRUE(key && certificate);
  bool selfSigned = wanted.issuerCert.empty();
  CCert issuer(selfSigned ? nullptr : ReadPem(wanted.issuerCert, PEM_read_bio_X509), &X509_free);
  CKey issuerKey(
      selfSigned ? nullptr : ReadPem(wanted.issuerKey, PEM_read_bio_PrivateKey), &EVP_PKEY_free);
  ASSERT_TRUE(selfSigned || (issuer && issuerKey)) << wanted.issuerCert;
  X509* signer = selfSigned ? certificate.get() : issuer.get();
  unsigned char serial[8];
  RAND_bytes(serial, sizeof(serial));
  serial[0] &= 0x7F;
  std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof(serial), nullptr), &BN_free);
  BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get()));
  X509_set_version(certificate.get(), 2);
  X509_time_adj_ex(X509_getm_notBefore(certificate.get()), wanted.fromDays, 0, nullptr);
  X509_time_adj_ex(X509_getm_notAfter(certificate.get()), wanted.toDays, 0, nullptr);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(wanted.subject.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(certificate.get(), X509_get_subject_name(signer));
  X509_set_pubkey(certificate.get(), key.get());
  AddExtension(certificate.get(), signer, NID_subject_key_identifier, "hash");
  if (!selfSigned) AddExtension(certificate.get(), signer, NID_authority_key_identifier, "keyid");
  AddExtension(certificate.get(), signer, NID_basic_constraints, wanted.ca ? "critical,CA:true" : "CA:false");
  AddExtension(certificate.get(), signer, NID_key_usage, wanted.ca ? "keyCertSign,cRLSign" : "digitalSignature");
  if (!wanted.extendedKeyUsage.empty()) {
    AddExtension(certificate.get(), signer, NID_ext_key_usage, wanted.extendedKeyUsage);
  }
  ASSERT_GT(X509_sign(certificate.get(), selfSigned ? key.get() : issuerKey.get(), EVP_sha256()), 0);
  CBio certOut(BIO_new_file(certPath.c_str(), "w"), &BIO_free);
  CBio keyOut(BIO_new_file(keyPath.c_str(), "w"), &BIO_free);
  ASSERT_TRUE(certOut && keyOut);
  ASSERT_EQ(PEM_write_bio_X509(certOut.get(), certificate.get()), 1);
  ASSERT_EQ(PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr), 1);
}

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
