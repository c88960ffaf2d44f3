#include "tools/packfile/signature_posix.h"

#include <sstream>

#include "tools/packfile/run_tool_posix.h"
#include "tools/packfile/shown_name.h"

namespace {

constexpr char kBy[] = " (osslsigncode verify)";

// What osslsigncode verify prints about the first signature.
struct CVerifyOutput {
  std::string algorithm, current, calculated, signer, signingTime, timestamp, chainError;
  bool chainOk = false;
  bool timestampMissing = false;
};

std::string After(const std::string& line, const std::string& key) {
  std::string::size_type at = line.find(key);
  if (at == std::string::npos) return "";
  std::string value = line.substr(at + key.size());
  value.erase(0, value.find_first_not_of(" \t"));
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
  return value;
}

CVerifyOutput Parse(const std::string& text) {
  CVerifyOutput parsed;
  std::istringstream lines(text);
  bool inSigner = false;
  for (std::string line; std::getline(lines, line);) {
    auto take = [&](const std::string& key, std::string* field) {
      if (field->empty() && line.find(key) != std::string::npos) *field = After(line, key);
    };
    take("Message digest algorithm  :", &parsed.algorithm);
    take("Current message digest    :", &parsed.current);
    take("Calculated message digest :", &parsed.calculated);
    // A mismatch is flagged after the digest: keep the digest alone.
    parsed.calculated = parsed.calculated.substr(0, parsed.calculated.find(' '));
    take("Signing time:", &parsed.signingTime);
    take("Timestamp time:", &parsed.timestamp);
    if (line.find("Signer's certificate:") != std::string::npos) inSigner = true;
    if (inSigner && line.find("Subject:") != std::string::npos) {
      parsed.signer = After(line, "Subject:");
      inSigner = false;
    }
    if (line.find("Timestamp is not available") != std::string::npos) parsed.timestampMissing = true;
    if (line.find("Signature verification: ok") != std::string::npos) parsed.chainOk = true;
    take("Error:", &parsed.chainError);
  }
  return parsed;
}

}  // namespace

std::vector<CFinding> CheckSignature(const std::string& path, const std::string& caFile) {
  std::vector<CFinding> findings;
  auto add = [&](Severity severity, const std::string& text) {
    findings.push_back(CFinding{CheckId::kSignature, severity, ShownText(text)});
  };
  std::string tool = FindInPath("osslsigncode");
  if (tool.empty()) {
    add(Severity::kFailure, "signature not checked: osslsigncode was not found in PATH (Debian package osslsigncode)");
    return findings;
  }
  std::vector<std::string> args = {"osslsigncode", "verify", "-in", path};
  if (!caFile.empty()) args.insert(args.end(), {"-CAfile", caFile});
  std::string output;
  RunCaptured(tool, args, "", &output);
  CVerifyOutput parsed = Parse(output);
  if (parsed.current.empty() || parsed.calculated.empty()) {
    std::string why;
    for (const std::string& line : ToolMessages(output)) why += (why.empty() ? "" : "; ") + line;
    add(Severity::kFailure, std::string("the signature cannot be read") + kBy + (why.empty() ? "" : ": " + why));
    return findings;
  }
  if (parsed.current != parsed.calculated) {
    add(Severity::kFailure, "the file's " + parsed.algorithm + " digest " + parsed.calculated +
                                " does not match the signed digest " + parsed.current +
                                ": the file was changed after it was signed" + kBy);
  } else {
    add(Severity::kOk, parsed.algorithm + " digest matches the file" + kBy);
  }
  if (parsed.algorithm == "SHA1") {
    add(Severity::kWarning, "SHA-1 digest: certificate authorities no longer issue code-signing certificates for it");
  }
  if (parsed.signer.empty()) {
    // osslsigncode stops describing the signature once the digest fails.
    add(Severity::kOk, "signer not shown: osslsigncode stops at the failed digest");
    return findings;
  }
  add(Severity::kOk, "signed by " + parsed.signer +
                         (parsed.signingTime.empty() ? "" : ", signing time " + parsed.signingTime));
  if (parsed.timestampMissing || parsed.timestamp.empty()) {
    add(Severity::kWarning, "no time stamp: the signature is trusted only while the certificate is valid");
  } else {
    add(Severity::kOk, "time stamp " + parsed.timestamp);
  }
  if (caFile.empty()) {
    add(Severity::kOk, "certificate chain not checked (--ca FILE checks it)");
  } else if (parsed.chainOk) {
    add(Severity::kOk, "certificate chain verifies against " + caFile);
  } else {
    add(Severity::kFailure, "certificate chain does not verify against " + caFile +
                                (parsed.chainError.empty() ? "" : ": " + parsed.chainError));
  }
  return findings;
}
