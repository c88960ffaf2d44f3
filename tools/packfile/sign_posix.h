// Signing through osslsigncode, the Authenticode signer available on Linux.
#pragma once

#include <string>

struct CSignOptions {
  std::string certificate;   // PEM or DER certificate chain, with `key`
  std::string key;
  std::string pkcs12;        // instead of certificate and key
  std::string password;      // for the key or the PKCS#12 file
  std::string passwordFile;  // the same, read from a file
  std::string timestampUrl;  // optional
  std::string hash = "sha1";
};

// The full path of `program` found through PATH; empty when it is not there.
std::string FindInPath(const std::string& program);

// Signs `in` into `out` (which may already exist, empty). Returns false with
// `error` set when osslsigncode is missing or fails; `out` is then undefined.
bool SignWithOsslsigncode(const CSignOptions& options, const std::string& in, const std::string& out,
                          std::string* error);
