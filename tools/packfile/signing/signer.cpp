#include "tools/packfile/signing/signer.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "bytes/file_bytes.h"
#include "pe/pe_image.h"
#include "tools/packfile/signing/certificate.h"
#include "tools/packfile/signing/run_tool.h"
#include "tools/packfile/signing/signed_output.h"
#include "tools/packfile/core/inputs.h"
#include "tools/packfile/core/signal_cleanup.h"
#include "tools/packfile/core/temp_output.h"

const std::vector<COptionDecl>& SignOptionDecls() {
  auto sign = [](auto field) { return Bind(&CSigningRequest::signing, field); };
  static const std::vector<COptionDecl> decls = {
      {"--cert", "FILE", "a certificate chain (PEM or DER), with --key", sign(&CSignOptions::certificate)},
      {"--key", "FILE|URI",
       "its private key: a file, or a PKCS#11 URI for a key\nin a token or HSM (pkcs11:token=...;object=...)",
       sign(&CSignOptions::key)},
      {"--pkcs11-module", "PATH", "the token's PKCS#11 module, for a pkcs11: key (default:\nPKCS11_MODULE_PATH)",
       Bind(&CSigningRequest::module)},
      {"--pkcs12", "FILE", "a PKCS#12 file, instead of --cert and --key (its own\nchain is embedded)",
       sign(&CSignOptions::pkcs12)},
      {"--chain", "FILE",
       "intermediate certificates to embed (PEM), so that\nWindows can build the chain to a root it trusts",
       sign(&CSignOptions::chain)},
      {"--ca", "FILE", "the signed file's chain, as embedded, must verify\nagainst the certificates in FILE (PEM)",
       sign(&CSignOptions::caFile)},
      {"--pass", "PASSWORD", "refused: a command line is visible to every user", Bind(&CSigningRequest::password)},
      {"--pass-file", "FILE", "the key's password or the token's PIN, in a file", sign(&CSignOptions::passwordFile)},
      {"--pass-env", "VAR", "the key's password or the token's PIN, in a variable", sign(&CSignOptions::passwordEnv)},
      {"--timestamp", "URL",
       "an RFC 3161 time-stamp service; repeat for fallbacks,\n"
       "tried in order, twice each, by the trial signature too",
       sign(&CSignOptions::timestampUrls)},
      {"--sign-hash", "NAME", "sha256 (default) or sha1", sign(&CSignOptions::hash)},
      {"--description", "TEXT", "the program's description, shown when elevating", sign(&CSignOptions::description)},
      {"--url", "URL", "a link about the program", sign(&CSignOptions::url)},
      {"--sign-time", "SECONDS",
       "the signing-time attribute, seconds since 1970\n"
       "(default: SOURCE_DATE_EPOCH, else now); a fixed time\nmakes a signature without time stamp reproducible;\n"
       "the certificate is judged now all the same",
       Bind(&CSigningRequest::signingTime)},
  };
  return decls;
}

namespace {

bool ParseTime(const std::string& text, std::int64_t* seconds) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *seconds = std::stoll(text);
  return true;
}

// The id of the warning about a signer whose issuer is not at hand, for --allow.
constexpr char kAllowChainIncomplete[] = "chain-incomplete";

// Attempts per time-stamp service, and the pause between them.
constexpr int kTimestampTries = 2;
constexpr unsigned kTimestampPauseSeconds = 2;
// What a signature adds to a file at most, for the free-space check: the
// PKCS #7 blob with a few certificates and a time-stamp token.
constexpr std::uint64_t kSignatureRoom = 64 * 1024;

bool IsPkcs11(const CSignOptions& options) { return options.key.rfind("pkcs11:", 0) == 0; }

std::string ReadAll(const std::string& path) {
  std::string bytes, reason;
  ReadInput(path, &bytes, &reason);
  return bytes;
}

// A private folder in TMPDIR for what a signature needs besides its output:
// the trial's copy of the image, the --chain certificates as one file. Its
// files and itself are removed when it ends, or by a signal.
class CScratch {
 public:
  CScratch() = default;
  // Makes the folder; false with Error() set.
  bool Make() {
    std::string pattern = (std::filesystem::temp_directory_path() / "packfile-sign-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    CSignalsHeld held;
    if (mkdtemp(name.data()) == nullptr) {
      error_ = SystemReason();
      return false;
    }
    folder_ = name.data();
    slots_.push_back(WatchTemporary(folder_, true));
    return true;
  }
  ~CScratch() {
    for (const std::string& file : files_) unlink(file.c_str());
    if (!folder_.empty()) rmdir(folder_.c_str());
    for (int slot : slots_) ReleaseTemporary(slot);
  }
  CScratch(const CScratch&) = delete;
  CScratch& operator=(const CScratch&) = delete;
  const std::string& Error() const { return error_; }
  // A file in the folder, removed with it.
  std::string File(const std::string& name) {
    std::string path = folder_ + "/" + name;
    files_.push_back(path);
    slots_.push_back(WatchTemporary(path, false));
    return path;
  }

 private:
  std::string folder_, error_;
  std::vector<std::string> files_;
  std::vector<int> slots_;
};

// The --chain files as one, for osslsigncode's -ac; empty without --chain.
bool WriteChain(const CSignOptions& options, CScratch& scratch, std::string* path, std::string* error) {
  path->clear();
  if (options.chain.empty()) return true;
  *path = scratch.File("chain.pem");
  std::ofstream out(*path, std::ios::binary);
  for (const std::string& file : options.chain) out << ReadAll(file) << "\n";
  out.close();
  if (!out) *error = "cannot write the chain into a scratch file: " + SystemReason();
  return static_cast<bool>(out);
}

// `timestampUrl` empty: no time stamp; `chainFile` empty: no --chain.
std::vector<std::string> SignArguments(const CSignOptions& options, const std::string& in, const std::string& out,
                                       const std::string& timestampUrl, const std::string& chainFile) {
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
  if (!chainFile.empty()) args.insert(args.end(), {"-ac", chainFile});
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

// How one signing run went, with the time stamp's services.
struct CSignerRun {
  bool ok = false;
  Fault fault = Fault::kBad;
  std::string text;                  // what failed
  std::vector<std::string> details;  // the tool's own messages, or each service tried and why it failed
  std::string answered;              // the time-stamp service that answered
};

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

// Signs `in` into `out`, time stamped when services are given: each is tried
// kTimestampTries times, in order, until one answers. When they all fail the
// result lists each with its reason (a kCannotCheck fault: the services,
// not the inputs, failed).
CSignerRun RunSigner(const CSignOptions& options, const std::string& in, const std::string& out, bool withTimestamp,
                     const std::string& chainFile) {
  CSignerRun run;
  std::string tool = FindInPath("osslsigncode");
  if (tool.empty()) {
    run.text = "osslsigncode was not found in PATH; install it (Debian package osslsigncode) to sign";
    run.fault = Fault::kCannotCheck;
    return run;
  }
  // A password file osslsigncode reads itself; a variable's value goes down a pipe.
  std::string password = options.passwordEnv.empty() ? "" : Password(options);
  std::vector<std::string> urls = withTimestamp ? options.timestampUrls : std::vector<std::string>();
  if (urls.empty()) urls.push_back("");
  for (const std::string& url : urls) {
    for (int attempt = 1; attempt <= kTimestampTries; ++attempt) {
      // osslsigncode will not write over an existing file.
      unlink(out.c_str());
      std::string output;
      int status = RunCaptured(tool, SignArguments(options, in, out, url, chainFile), password, &output);
      if (status == 0) {
        run.ok = true;
        run.answered = url;
        return run;
      }
      std::vector<std::string> messages = ToolMessages(output);
      if (url.empty() || !TimestampFailed(messages)) {
        run.text = "osslsigncode failed (exit " + std::to_string(status) + ")";
        for (const std::string& line : messages) run.details.push_back("osslsigncode: " + line);
        return run;
      }
      std::string reason = StackReason(output);
      if (reason.empty()) reason = messages.empty() ? std::string("no answer") : messages.front();
      run.details.push_back(url + " (attempt " + std::to_string(attempt) + "): " + reason);
      if (attempt < kTimestampTries) sleep(kTimestampPauseSeconds);
    }
  }
  run.text = "no time-stamp service answered; tried:";
  run.fault = Fault::kCannotCheck;
  return run;
}

// A time stamp from a fallback service, or on a retry, is worth knowing:
// the first service may be failing for everyone.
void NoteFallback(const CSignerRun& run, CDiagnostics& diagnostics) {
  if (!run.ok || run.details.empty()) return;
  diagnostics.Note("the time-stamp service " + run.answered +
                       " time stamped the signature after these attempts failed:",
                   run.details);
}

// When the tool failed on the output's file system, whether it lacked room:
// its free space (and what the failed output took) against `needed`.
std::string NoRoomReason(const std::string& output, const std::string& finalPath, std::uint64_t needed) {
  std::string folder = std::filesystem::path(finalPath).parent_path().string();
  struct statvfs facts = {};
  if (statvfs(std::filesystem::path(output).parent_path().c_str(), &facts) != 0) return "";
  std::uint64_t free = static_cast<std::uint64_t>(facts.f_bavail) * facts.f_frsize;
  struct stat partial = {};
  if (stat(output.c_str(), &partial) == 0) free += static_cast<std::uint64_t>(partial.st_blocks) * 512;
  if (free >= needed) return "";
  return SystemReason(ENOSPC) + ": the file system of " + (folder.empty() ? "." : folder) + " has " +
         std::to_string(free) + " bytes free, the signed file needs about " + std::to_string(needed);
}

void CheckReadable(const std::string& what, const std::string& path, CDiagnostics& diagnostics) {
  std::string bytes, reason;
  if (!ReadInput(path, &bytes, &reason, 1)) {
    diagnostics.Error(what + " " + path + " cannot be read: " + reason, Fault::kCannotCheck);
  } else if (bytes.empty()) {
    diagnostics.Error(what + " " + path + " is empty", Fault::kCannotCheck);
  }
}

void CheckCertificate(const CSignOptions& options, CDiagnostics& diagnostics) {
  bool fromPkcs12 = !options.pkcs12.empty();
  std::vector<std::string> chain;
  for (const std::string& file : options.chain) {
    chain.push_back(ReadAll(file));
    if (CountPemCertificates(chain.back()) == 0) diagnostics.Error("--chain " + file + " holds no PEM certificate");
  }
  CSignerReview review = ReviewSigner(fromPkcs12 ? "" : ReadAll(options.certificate),
                                      fromPkcs12 ? ReadAll(options.pkcs12) : "", Password(options), chain);
  // A PKCS#12 file that does not open is left to the trial signature, which says why.
  if (!review.error.empty() && !fromPkcs12) {
    diagnostics.Error("the certificate " + options.certificate + " " + review.error);
  }
  for (const CCertificateRefusal& refusal : review.refusals) {
    if (IsAllowed(options.allowed, refusal.id)) {
      diagnostics.Note(refusal.text + " (--allow " + refusal.id + ")");
    } else {
      diagnostics.Error(refusal.text + "; --allow " + refusal.id + " signs anyway (a test certificate)");
    }
  }
  if (!review.chainIncomplete.empty()) {
    ReportWarning(kAllowChainIncomplete, review.chainIncomplete, options.allowed, options.strict, diagnostics);
  }
}

// Where the signer put the certificate table of `path`; false when it cannot be read.
bool SignatureTable(const std::string& path, CPeDataDirectory* table) {
  CFileSource file(path);
  CPeImage image;
  std::string error;
  if (!file.IsOpen() || !ReadPeImage(file, &image, &error)) return false;
  *table = PeDirectory(image, kPeSecurityDirectory);
  return table->size != 0;
}

// The signed file's chain as embedded, against --ca; false after saying
// why: "`chain` does not verify". With --ca, `read` (when given) gets the
// signature's facts as the check read them.
bool ChainVerifies(const CSignOptions& options, const std::string& path, const std::string& chain,
                   CDiagnostics& diagnostics, CSignatureFacts* read = nullptr) {
  if (options.caFile.empty()) return true;
  CPeDataDirectory table;
  CSignatureFacts facts;
  if (SignatureTable(path, &table)) facts = CheckSignature(path, table.virtualAddress, table.size, options.caFile);
  if (facts.chainVerified == 1) {
    if (read != nullptr) *read = std::move(facts);
    return true;
  }
  std::vector<std::string> why;
  for (const CFinding& finding : facts.findings) {
    if (finding.severity == Severity::kFailure) why.push_back(finding.text);
  }
  diagnostics.Error(chain + " does not verify against --ca " + options.caFile,
                    facts.toolMissing ? Fault::kCannotCheck : Fault::kBad, why);
  return false;
}

}  // namespace

const std::vector<std::string>& SignAllowIds() {
  static const std::vector<std::string> ids = {kAllowCertificateExpired, kAllowCertificateNotYetValid,
                                               kAllowCertificatePurpose, kAllowChainIncomplete};
  return ids;
}

bool CompleteSignOptions(CSigningRequest& request, std::string* error) {
  CSignOptions& s = request.signing;
  s.allowed = request.allowed;
  s.strict = request.strict;
  const char* module = std::getenv("PKCS11_MODULE_PATH");
  s.pkcs11Module = request.module.value_or(module ? module : "");
  bool pkcs11 = IsPkcs11(s);
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  std::string time = request.signingTime.value_or(epoch ? epoch : "");
  if (request.password) {
    *error = "--pass would put the password on a command line, where other users can read it; "
             "use --pass-file FILE or --pass-env VARIABLE";
  } else if (s.pkcs12.empty() == (s.certificate.empty() || s.key.empty()) ||
             (!s.pkcs12.empty() && (!s.certificate.empty() || !s.key.empty()))) {
    *error = "signing needs either --cert and --key, or --pkcs12";
  } else if (pkcs11 && s.pkcs11Module.empty()) {
    *error = "a pkcs11: key needs the token's module: --pkcs11-module PATH or PKCS11_MODULE_PATH";
  } else if (!pkcs11 && request.module) {
    *error = "--pkcs11-module goes with a pkcs11: URI as --key";
  } else if (!s.passwordFile.empty() && !s.passwordEnv.empty()) {
    *error = "give the password by --pass-file or by --pass-env, not both";
  } else if (s.hash != "sha1" && s.hash != "sha256") {
    *error = "--sign-hash must be sha256 or sha1";
  } else if (!time.empty() && !ParseTime(time, &s.signingTime)) {
    *error = (request.signingTime ? "--sign-time" : "SOURCE_DATE_EPOCH") +
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
  for (const std::string& file : options.chain) CheckReadable("the chain file", file, diagnostics);
  if (!options.passwordFile.empty()) CheckReadable("the password file", options.passwordFile, diagnostics);
  if (!options.caFile.empty()) CheckCaFile(options.caFile, diagnostics);
  if (!options.passwordEnv.empty() && std::getenv(options.passwordEnv.c_str()) == nullptr) {
    diagnostics.Error("the password variable " + options.passwordEnv + " is not set", Fault::kCannotCheck);
  }
  bool hasPassword = !options.passwordFile.empty() || !options.passwordEnv.empty();
  if (!options.key.empty() && !IsPkcs11(options) && !hasPassword) {
    if (ReadAll(options.key).find("ENCRYPTED") != std::string::npos) {
      diagnostics.Error("the key " + options.key + " is encrypted: give its password with --pass-file or --pass-env");
    }
  }
  if (!diagnostics.HasErrors()) CheckCertificate(options, diagnostics);
}

bool TrialSign(CSignOptions& options, CByteSource& image, std::uint64_t length, CDiagnostics& diagnostics) {
  const std::string refused = "a trial signature of the launcher image failed, nothing was built: ";
  CScratch scratch;
  if (!scratch.Make()) {
    diagnostics.Error(refused + "cannot create a scratch folder: " + scratch.Error(), Fault::kCannotCheck);
    return false;
  }
  std::string in = scratch.File("image.exe"), out = scratch.File("signed.exe"), chainFile, error;
  bool copied = false;
  {
    CFileSink sink(in);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    copied = sink.IsOpen() && ReadExact(image, 0, bytes.data(), bytes.size()) && sink.Write(bytes.data(), bytes.size());
    copied = sink.Close() && copied;
    if (!copied) {
      error = sink.Errno() != 0 ? "cannot write a scratch copy of the launcher: " + SystemReason(sink.Errno())
                                : "cannot read the launcher image";
    }
  }
  if (!copied || !WriteChain(options, scratch, &chainFile, &error)) {
    diagnostics.Error(refused + error, Fault::kCannotCheck);
    return false;
  }
  // With the time stamp: an outage stops the build before anything is written.
  CSignerRun run = RunSigner(options, in, out, true, chainFile);
  if (!run.ok) {
    std::string noRoom = run.fault == Fault::kBad ? NoRoomReason(out, out, length + kSignatureRoom) : "";
    if (noRoom.empty()) {
      diagnostics.Error(refused + run.text, run.fault, run.details);
    } else {
      diagnostics.Error(refused + "the signer could not write into TMPDIR: " + noRoom, Fault::kCannotCheck,
                        run.details);
    }
    return false;
  }
  NoteFallback(run, diagnostics);
  // A chain that does not reach --ca shows before the package is written too.
  if (!ChainVerifies(options, out, refused + "the signed launcher image's chain", diagnostics)) return false;
  // The service that answered is asked first when the package is signed.
  auto first = std::find(options.timestampUrls.begin(), options.timestampUrls.end(), run.answered);
  if (first != options.timestampUrls.end()) std::rotate(options.timestampUrls.begin(), first, first + 1);
  return true;
}

bool SignInto(const CSignOptions& options, const std::string& in, std::uint64_t packageEnd,
              const std::string& finalPath, CDiagnostics& diagnostics, CSigned* result) {
  CScratch scratch;
  std::string chainFile, error;
  if (!options.chain.empty() && !scratch.Make()) error = "cannot create a scratch folder: " + scratch.Error();
  if (!error.empty() || !WriteChain(options, scratch, &chainFile, &error)) {
    diagnostics.Error(finalPath + ": " + error, Fault::kCannotCheck);
    return false;
  }
  // The signing tool writes into a private folder beside the output, so
  // that the rename stays on one file system.
  CTempOutput signedTemp(finalPath, CTempOutput::Kind::kFolder);
  if (!signedTemp.Ok()) {
    diagnostics.Error(signedTemp.Error(), Fault::kCannotCheck);
    return false;
  }
  bool fixed = false;
  CSignerRun run = RunSigner(options, in, signedTemp.Path(), true, chainFile);
  bool checked = run.ok && CheckSignedOutput(signedTemp.Path(), packageEnd, &fixed, &error);
  if (!checked) {
    // The tool says little when a write fails; the file system may say why.
    std::string noRoom = NoRoomReason(signedTemp.Path(), finalPath, packageEnd + kSignatureRoom);
    if (!noRoom.empty()) {
      diagnostics.Error(finalPath + ": the signer could not write the signed file: " + noRoom, Fault::kCannotCheck,
                        run.details);
    } else if (!run.ok) {
      diagnostics.Error(finalPath + ": " + run.text, run.fault, run.details);
    } else {
      diagnostics.Error(finalPath + ": " + error);
    }
    return false;
  }
  NoteFallback(run, diagnostics);
  if (fixed) diagnostics.Note("the signer left a wrong CheckSum; corrected");
  std::string notWritten = finalPath + ": the signed file was not written: its chain";
  CSignatureFacts facts;
  if (!ChainVerifies(options, signedTemp.Path(), notWritten, diagnostics, &facts)) return false;
  // With --ca the chain's check has read the signature already.
  bool read = !options.caFile.empty();
  CPeDataDirectory table;
  if (result != nullptr && !read && SignatureTable(signedTemp.Path(), &table)) {
    ReadSignatureFacts(signedTemp.Path(), table.virtualAddress, table.size, &facts);
    read = true;
  }
  if (result != nullptr && read) {
    result->facts = std::move(facts);
    result->timestampService = run.answered;
  }
  if (!signedTemp.Commit()) {
    diagnostics.Error(signedTemp.Error(), Fault::kCannotCheck);
    return false;
  }
  return true;
}
