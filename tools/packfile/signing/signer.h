// Signing through osslsigncode, the Authenticode signer available on Linux,
// shared by `build --sign` and `sign`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "tools/packfile/core/message_sink.h"
#include "tools/packfile/core/options.h"
#include "tools/packfile/signing/signature.h"

struct CSignOptions {
  std::string certificate;    // PEM or DER certificate chain, with `key`
  std::string key;            // a key file, or a PKCS#11 URI ("pkcs11:token=...;object=...")
  std::string pkcs11Module;   // for a pkcs11: key: --pkcs11-module, else PKCS11_MODULE_PATH
  std::string pkcs12;         // instead of certificate and key
  std::vector<std::string> chain;  // --chain: intermediates to embed (PEM)
  std::string caFile;         // --ca: the signed file's chain must verify against these
  std::string passwordFile;   // the key's or PKCS#12 file's password, in a file
  std::string passwordEnv;    // ... or in this environment variable
  std::vector<std::string> timestampUrls;  // RFC 3161 time-stamp services, tried in order
  std::vector<std::string> allowed;        // --allow: certificate refusals and warnings accepted on purpose
  bool strict = false;                     // --strict: a warning is an error
  std::string hash = "sha256";
  std::string description;    // shown by Windows in the elevation prompt
  std::string url;
  std::int64_t signingTime = -1;  // seconds since 1970; -1: now
};

// The --allow ids of the signing certificate's refusals, for build and sign.
const std::vector<std::string>& SignAllowIds();

// What build and sign take from the command line for a signature: the
// options as the signer uses them, and the few that CompleteSignOptions
// settles.
struct CSigningRequest : CRequest {
  CSignOptions signing;
  bool strict = false;                     // --strict
  std::optional<std::string> module;       // --pkcs11-module; PKCS11_MODULE_PATH when not given
  std::optional<std::string> signingTime;  // --sign-time; SOURCE_DATE_EPOCH when not given
  std::optional<std::string> password;     // --pass, refused
};

// The signing options, declared once for build and sign.
const std::vector<COptionDecl>& SignOptionDecls();

// Settles the signing options once parsed. False with `error` for a usage
// error: neither or both of --cert/--key and --pkcs12, a pkcs11: key
// without a module, an unknown hash, a bad time, or --pass (a password on a
// command line is visible to every user).
// SOURCE_DATE_EPOCH gives the signing time when --sign-time does not.
bool CompleteSignOptions(CSigningRequest& request, std::string* error);

// Checks, before anything is built, that every named file can be read (a
// kCannotCheck error with the system's reason otherwise), --ca holds
// certificates, the password variable is set, an encrypted PEM key has a
// password, and the signing certificate is one Windows accepts for code
// signing now (not expired, not yet valid, or lacking the code-signing
// purpose are refused unless `allowed` names the refusal's id), whose
// issuer is embedded (warning chain-incomplete otherwise).
void CheckSignInputs(const CSignOptions& options, CDiagnostics& diagnostics);

// Signs the first `length` bytes of `image` (the launcher image) into a
// scratch file and throws it away: a wrong password, a key that does not
// match the certificate, a broken PKCS#12 file or time-stamp services that
// all fail show before a build. False after reporting why (osslsigncode's
// own reasons included). The time-stamp service that answered moves to the
// front of `options.timestampUrls`, so the real signature asks it first.
bool TrialSign(CSignOptions& options, CByteSource& image, std::uint64_t length, CDiagnostics& diagnostics);

// What a signature came out as, for a report.
struct CSigned {
  CSignatureFacts facts;         // read from the signed file
  std::string timestampService;  // the service that answered; empty without
};

// Signs `in`, whose package ends at `packageEnd` (its length), into
// `finalPath`, replaced only when the signed file checks out (and its chain
// verifies against --ca). False after reporting why, with the system's
// reason when the output's file system had no room; what was corrected is
// reported as a note.
bool SignInto(const CSignOptions& options, const std::string& in, std::uint64_t packageEnd,
              const std::string& finalPath, CDiagnostics& diagnostics, CSigned* result = nullptr);
