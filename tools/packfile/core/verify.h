// Checks a finished installer against the package layout rules and against
// what a launcher would do with it. Portable: the fuzz target runs it too.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "tools/packfile/core/launcher_image.h"
#include "tools/packfile/core/launcher_refusal.h"

enum class CheckId {
  kImage,             // a PE image
  kLauncher,          // the image is this project's launcher (its version block says so)
  kCertificateTable,  // last in the file, 8-aligned, a valid certificate header
  kStubHeader,        // directly before the table, a non-zero header offset
  kLocator,           // the launcher's read of the certificate size finds the same stub header
  kEntries,           // entries laid end to end up to the filler
  kEntryCounts,       // each entry's count greater than its position
  kStopAfterLast,     // the four bytes after the last entry read as at most N
  kLauncherWalk,      // a launcher extracts exactly the laid entries
  kFiller,            // filler bytes and the stub header's alignment
  kNames,             // bare, terminated, short enough, distinct names
  kRunBat,            // run.bat present for the no-argument form
  kSequenceAndTotal,  // sequence 2, 3, ... and running totals
  kCheckSum,          // the PE CheckSum
  // The Authenticode signature (checked outside this file, by signing/):
  kSignature,           // signed at all, and readable
  kSignatureDigest,     // the signed digest matches the file
  kSignatureAlgorithm,  // the digest algorithm
  kSigner,              // who signed, and when
  kTimestamp,           // a time stamp
  kCertificateChain,    // the chain against --ca
};

enum class Severity { kOk, kWarning, kFailure };

struct CFinding {
  CheckId check;
  Severity severity;
  std::string text;
};

struct CVerifyReport {
  std::vector<CFinding> findings;
  std::size_t launcherEntries = 0;  // entries a launcher would write
  CLauncherIdentity launcher;       // what the image is, from its version block
  // What the layout checks found wrong with a certificate table that a
  // launcher refuses (see launcher_refusal.h).
  SignatureDamage tableDamage = SignatureDamage::kNone;
  // True when no check failed.
  bool Passed() const;
  // True when `check` reported a failure.
  bool Failed(CheckId check) const;
};

// Runs every check on `file`; never fails itself, whatever the bytes.
// Without `checkSum` the PE CheckSum, the one check that reads every byte,
// is left out: list and extract read headers and records only. An image
// that is not this project's launcher fails, or with `allowUnknownLauncher`
// (a deliberate custom stub) is a warning.
CVerifyReport VerifyPackage(CByteSource& file, bool checkSum = true, bool allowUnknownLauncher = false);

// True for the checks of where the package lies and what a launcher walks:
// a file failing one of them is not the package it claims to be (a cut
// download, say), so list and extract refuse it too.
bool IsLayoutCheck(CheckId check);

// The check's stable name in machine-readable output, e.g. "stub-header".
const char* CheckName(CheckId check);
