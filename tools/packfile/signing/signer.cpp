#include "tools/packfile/signing/signer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "bytes/file_bytes.h"
#include "tools/packfile/signing/certificate.h"
#include "tools/packfile/signing/run_tool.h"
#include "tools/packfile/signing/signed_output.h"
#include "tools/packfile/output/temp_output.h"

const std::vector<COptionDecl>& SignOptionDecls() {
  static const std::vector<COptionDecl> decls = {
      {"--cert", OptionKind::kValued, "FILE", "a certificate chain (PEM or DER), with --key"},
      {"--key", OptionKind::kValued, "FILE|URI",
       "its private key: a file, or a PKCS#11 URI for a key\nin a token or HSM (pkcs11:token=...;object=...)"},
      {"--pkcs11-module", OptionKind::kValued, "PATH",
       "the token's PKCS#11 module, for a pkcs11: key (default:\nPKCS11_MODULE_PATH)"},
      {"--pkcs12", OptionKind::kValued, "FILE", "a PKCS#12 file, instead of --cert and --key"},
      {"--pass", OptionKind::kValued, "PASSWORD", "refused: a command line is visible to every user"},
      {"--pass-file", OptionKind::kValued, "FILE", "the key's password or the token's PIN, in a file"},
      {"--pass-env", OptionKind::kValued, "VAR", "the key's password or the token's PIN, in a variable"},
      {"--timestamp", OptionKind::kRepeated, "URL",
       "an RFC 3161 time-stamp service; repeat for fallbacks,\n"
       "tried in order, twice each, by the trial signature too"},
      {"--sign-hash", OptionKind::kValued, "NAME", "sha256 (default) or sha1"},
      {"--description", OptionKind::kValued, "TEXT", "the program's description, shown when elevating"},
      {"--url", OptionKind::kValued, "URL", "a link about the program"},
      {"--sign-time", OptionKind::kValued, "SECONDS",
       "the signing time, seconds since 1970 (default:\n"
       "SOURCE_DATE_EPOCH, else now); a fixed time makes a\nsignature without time stamp reproducible"},
  };
  return decls;
}

namespace {

bool ParseTime(const std::string& text, std::int64_t* seconds) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *seconds = std::stoll(text);
  return true;
}

// Attempts per time-stamp service, and the pause between them.
constexpr int kTimestampTries = 2;
constexpr unsigned kTimestampPauseSeconds = 2;

bool IsPkcs11(const CSignOptions& options) { return options.key.rfind("pkcs11:", 0) == 0; }

// `timestampUrl` empty: no time stamp.
std::vector<std::string> SignArguments(const CSignOptions& options, const std::string& in, const std::string& out,
                                       const std::string& timestampUrl) {
  std::vector<std::string> args = {"osslsigncode", "sign"};
  if (!options.pkcs12.empty()) {
    args.insert(args.end(), {"-pkcs12", options.pkcs12});
  } else if (IsPkcs11(options)) {
    // The key stays in the token: osslsigncode's PKCS#11 engine signs with it.
    args.insert(args.end(), {"-pkcs11module", options.pkcs11Module, "-certs", options.certificate, "-key",
                             options.key});
  } else {
    args.insert(args.end(), {"-certs", options.certificate, "-key", options.key});
  }
  // From a file, or "-": standard input, where RunCaptured writes the variable.
  if (!options.passwordFile.empty()) args.insert(args.end(), {"-readpass", options.passwordFile});
  if (!options.passwordEnv.empty()) args.insert(args.end(), {"-readpass", "-"});
  if (!timestampUrl.empty()) args.insert(args.end(), {"-ts", timestampUrl});
  if (!options.description.empty()) args.insert(args.end(), {"-n", options.description});
  if (!options.url.empty()) args.insert(args.end(), {"-i", options.url});
  if (options.signingTime >= 0) args.insert(args.end(), {"-time", std::to_string(options.signingTime)});
  args.insert(args.end(), {"-h", options.hash, "-in", in, "-out", out});
  return args;
}

bool TimestampFailed(const std::vector<std::string>& messages) {
  for (const std::string& line : messages) {
    if (line.find("imestamp") != std::string::npos || line.find("RFC 3161") != std::string::npos) return true;
  }
  return false;
}

// One osslsigncode run; false with its reasons in `messages`.
bool RunOnce(const std::string& tool, const CSignOptions& options, const std::string& in, const std::string& out,
             const std::string& timestampUrl, std::vector<std::string>* messages, int* status) {
  std::string password;
  if (!options.passwordEnv.empty()) {
    const char* value = std::getenv(options.passwordEnv.c_str());
    password = value ? value : "";
  }
  // osslsigncode will not write over an existing file.
  unlink(out.c_str());
  std::string output;
  *status = RunCaptured(tool, SignArguments(options, in, out, timestampUrl), password, &output);
  *messages = ToolMessages(output);
  return *status == 0;
}

// Signs `in` into `out`, time stamped when services are given: each is tried
// kTimestampTries times, in order, until one answers. When they all fail the
// error lists each with osslsigncode's reason (a kCannotCheck fault: the
// services, not the inputs, failed).
bool RunSigner(const CSignOptions& options, const std::string& in, const std::string& out, bool withTimestamp,
               std::string* error, Fault* fault, std::string* answered = nullptr) {
  *fault = Fault::kBad;
  std::string tool = FindInPath("osslsigncode");
  if (tool.empty()) {
    *error = "osslsigncode was not found in PATH; install it (Debian package osslsigncode) to sign";
    *fault = Fault::kCannotCheck;
    return false;
  }
  std::vector<std::string> urls = withTimestamp ? options.timestampUrls : std::vector<std::string>();
  if (urls.empty()) urls.push_back("");
  std::string tried;
  for (const std::string& url : urls) {
    for (int attempt = 1; attempt <= kTimestampTries; ++attempt) {
      std::vector<std::string> messages;
      int status = 0;
      if (RunOnce(tool, options, in, out, url, &messages, &status)) {
        if (answered != nullptr) *answered = url;
        return true;
      }
      if (url.empty() || !TimestampFailed(messages)) {
        *error = "osslsigncode failed (exit " + std::to_string(status) + ")";
        for (const std::string& line : messages) *error += "\n  osslsigncode: " + line;
        return false;
      }
      tried += "\n  " + url + " (attempt " + std::to_string(attempt) + "): " +
               (messages.empty() ? std::string("no answer") : messages.back());
      if (attempt < kTimestampTries) sleep(kTimestampPauseSeconds);
    }
  }
  *error = "no time-stamp service answered; tried:" + tried;
  *fault = Fault::kCannotCheck;
  return false;
}

void CheckReadable(const std::string& what, const std::string& path, CDiagnostics& diagnostics) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    diagnostics.Error(what + " " + path + " cannot be read: " + SystemReason(), Fault::kCannotCheck);
  } else if (file.peek() == std::ifstream::traits_type::eof()) {
    diagnostics.Error(what + " " + path + " is empty", Fault::kCannotCheck);
  }
}

// The password as osslsigncode reads it: the first line of the file, or the variable.
std::string Password(const CSignOptions& options) {
  if (!options.passwordEnv.empty()) {
    const char* value = std::getenv(options.passwordEnv.c_str());
    return value ? value : "";
  }
  std::string line;
  if (!options.passwordFile.empty()) {
    std::ifstream file(options.passwordFile, std::ios::binary);
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return line;
}

void CheckCertificate(const CSignOptions& options, CDiagnostics& diagnostics) {
  bool fromPkcs12 = !options.pkcs12.empty();
  const std::string& path = fromPkcs12 ? options.pkcs12 : options.certificate;
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::int64_t at = options.signingTime >= 0 ? options.signingTime : static_cast<std::int64_t>(time(nullptr));
  std::vector<CCertificateRefusal> refusals;
  std::string error;
  bool read = fromPkcs12 ? CheckPkcs12Certificate(bytes, Password(options), at, &refusals, &error)
                         : CheckCodeSigningCertificate(bytes, at, &refusals, &error);
  // A PKCS#12 file that does not open is left to the trial signature, which says why.
  if (!read && !fromPkcs12) diagnostics.Error("the certificate " + path + " " + error);
  for (const CCertificateRefusal& refusal : refusals) {
    bool allowed = false;
    for (const std::string& id : options.allowed) allowed = allowed || id == refusal.id;
    if (allowed) {
      diagnostics.Note(refusal.text + " (--allow " + refusal.id + ")");
    } else {
      diagnostics.Error(refusal.text + "; --allow " + refusal.id + " signs anyway (a test certificate)");
    }
  }
}

}  // namespace

const std::vector<std::string>& SignAllowIds() {
  static const std::vector<std::string> ids = {"certificate-expired", "certificate-not-yet-valid",
                                               "certificate-purpose", "chain-incomplete"};
  return ids;
}

bool ParseSignOptions(const CParsedArgs& parsed, CSignOptions* options, std::string* error) {
  CSignOptions& s = *options;
  s.certificate = parsed.Value("--cert");
  s.key = parsed.Value("--key");
  s.pkcs12 = parsed.Value("--pkcs12");
  s.passwordFile = parsed.Value("--pass-file");
  s.passwordEnv = parsed.Value("--pass-env");
  s.timestampUrls = parsed.List("--timestamp");
  s.allowed = parsed.List("--allow");
  const char* module = std::getenv("PKCS11_MODULE_PATH");
  s.pkcs11Module = parsed.Value("--pkcs11-module", module ? module : "");
  bool pkcs11 = s.key.rfind("pkcs11:", 0) == 0;
  s.hash = parsed.Value("--sign-hash", "sha256");
  s.description = parsed.Value("--description");
  s.url = parsed.Value("--url");
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  std::string time = parsed.Value("--sign-time", epoch ? epoch : "");
  if (parsed.Has("--pass")) {
    *error = "--pass would put the password on a command line, where other users can read it; "
             "use --pass-file FILE or --pass-env VARIABLE";
  } else if (s.pkcs12.empty() == (s.certificate.empty() || s.key.empty()) ||
             (!s.pkcs12.empty() && (!s.certificate.empty() || !s.key.empty()))) {
    *error = "signing needs either --cert and --key, or --pkcs12";
  } else if (pkcs11 && s.pkcs11Module.empty()) {
    *error = "a pkcs11: key needs the token's module: --pkcs11-module PATH or PKCS11_MODULE_PATH";
  } else if (!pkcs11 && parsed.Has("--pkcs11-module")) {
    *error = "--pkcs11-module goes with a pkcs11: URI as --key";
  } else if (!s.passwordFile.empty() && !s.passwordEnv.empty()) {
    *error = "give the password by --pass-file or by --pass-env, not both";
  } else if (s.hash != "sha1" && s.hash != "sha256") {
    *error = "--sign-hash must be sha256 or sha1";
  } else if (!time.empty() && !ParseTime(time, &s.signingTime)) {
    *error = (parsed.Has("--sign-time") ? "--sign-time" : "SOURCE_DATE_EPOCH") +
             std::string(" must be a number of seconds since 1970, not ") + time;
  } else {
    return true;
  }
  return false;
}

void CheckSignInputs(const CSignOptions& options, CDiagnostics& diagnostics) {
  if (!options.pkcs12.empty()) CheckReadable("the PKCS#12 file", options.pkcs12, diagnostics);
  if (!options.certificate.empty()) CheckReadable("the certificate", options.certificate, diagnostics);
  if (!options.key.empty() && !IsPkcs11(options)) CheckReadable("the key", options.key, diagnostics);
  if (IsPkcs11(options)) CheckReadable("the PKCS#11 module", options.pkcs11Module, diagnostics);
  if (!options.passwordFile.empty()) CheckReadable("the password file", options.passwordFile, diagnostics);
  if (!options.passwordEnv.empty() && std::getenv(options.passwordEnv.c_str()) == nullptr) {
    diagnostics.Error("the password variable " + options.passwordEnv + " is not set", Fault::kCannotCheck);
  }
  bool hasPassword = !options.passwordFile.empty() || !options.passwordEnv.empty();
  if (!options.key.empty() && !IsPkcs11(options) && !hasPassword) {
    std::ifstream file(options.key, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.find("ENCRYPTED") != std::string::npos) {
      diagnostics.Error("the key " + options.key + " is encrypted: give its password with --pass-file or --pass-env");
    }
  }
  if (!diagnostics.HasErrors()) CheckCertificate(options, diagnostics);
}

bool TrialSign(CSignOptions& options, CByteSource& image, std::uint64_t length, CDiagnostics& diagnostics) {
  const std::string refused = "a trial signature of the launcher image failed, nothing was built: ";
  std::string pattern = (std::filesystem::temp_directory_path() / "packfile-trial-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  char* folder = mkdtemp(name.data());
  if (folder == nullptr) {
    diagnostics.Error(refused + "cannot create a scratch folder: " + SystemReason(), Fault::kCannotCheck);
    return false;
  }
  std::string in = std::string(folder) + "/image.exe", out = std::string(folder) + "/signed.exe";
  bool copied = false;
  {
    CFileSink sink(in);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    copied = sink.IsOpen() && ReadExact(image, 0, bytes.data(), bytes.size()) && sink.Write(bytes.data(), bytes.size());
    copied = sink.Close() && copied;
  }
  std::string error;
  Fault fault = Fault::kCannotCheck;
  // With the time stamp: an outage stops the build before anything is written.
  std::string answered;
  bool signedOk = copied && RunSigner(options, in, out, true, &error, &fault, &answered);
  // The service that answered is asked first when the package is signed.
  auto first = std::find(options.timestampUrls.begin(), options.timestampUrls.end(), answered);
  if (first != options.timestampUrls.end()) std::rotate(options.timestampUrls.begin(), first, first + 1);
  if (!copied) error = "cannot write a scratch copy of the launcher";
  unlink(in.c_str());
  unlink(out.c_str());
  rmdir(folder);
  if (!signedOk) diagnostics.Error(refused + error, fault);
  return signedOk;
}

bool SignInto(const CSignOptions& options, const std::string& in, std::uint64_t packageEnd,
              const std::string& finalPath, CDiagnostics& diagnostics) {
  CTempOutput signedTemp(finalPath);
  if (!signedTemp.Ok()) {
    diagnostics.Error(signedTemp.Error(), Fault::kCannotCheck);
    return false;
  }
  std::string error;
  Fault fault = Fault::kBad;
  bool fixed = false;
  if (!RunSigner(options, in, signedTemp.Path(), true, &error, &fault) ||
      !CheckSignedOutput(signedTemp.Path(), packageEnd, &fixed, &error)) {
    diagnostics.Error(finalPath + ": " + error, fault);
    return false;
  }
  if (fixed) diagnostics.Note("the signer left a wrong CheckSum; corrected");
  if (!signedTemp.Commit()) {
    diagnostics.Error(signedTemp.Error(), Fault::kCannotCheck);
    return false;
  }
  return true;
}
