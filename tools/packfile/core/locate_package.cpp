#include "tools/packfile/core/locate_package.h"

#include "pe/pe_image.h"
#include "tools/packfile/core/verify.h"

CLocatorRead LocatePackage(CByteSource& file, std::string* note) {
  note->clear();
  CLocatorRead launcher = LocateLikeLauncher(file);
  CPeImage image;
  std::string error;
  if (!ReadPeImage(file, &image, &error)) return launcher;
  auto own = static_cast<std::int32_t>(PeDirectory(image, kPeSecurityDirectory).size);
  CLocatorRead byOwnEntry = LocateWithCertificateSize(file, own);
  if (byOwnEntry.stubOffset != launcher.stubOffset || byOwnEntry.headerOffset != launcher.headerOffset) {
    *note = "byte " + std::to_string(launcher.certificateSizeAt) + " of the PE headers holds " +
            std::to_string(launcher.certificateSize) + " but the image's security entry gives " +
            std::to_string(own) + "; showing what a launcher reading byte " +
            std::to_string(launcher.certificateSizeAt) + " finds";
  }
  return launcher;
}

bool LocatePackageOrSay(CByteSource& file, const std::string& path, CDiagnostics& diagnostics,
                        CLocatorRead* located, CLauncherIdentity* launcher) {
  std::string note;
  *located = LocatePackage(file, &note);
  if (!note.empty()) diagnostics.Note(note);
  CVerifyReport report = VerifyPackage(file, false);
  if (launcher != nullptr) *launcher = report.launcher;
  // verify's reasons first: a cut file is named by its certificate table, not
  // by whatever its last bytes hold where the stub header should be.
  bool holds = true;
  for (const CFinding& finding : report.findings) {
    if (finding.severity != Severity::kFailure || !IsLayoutCheck(finding.check)) continue;
    diagnostics.Error(path + ": " + finding.text);
    holds = false;
    // Without a package the layout rules after it say nothing more.
    if (finding.text.rfind("no package", 0) == 0) return false;
  }
  if (!located->found) {
    if (holds) diagnostics.Error(path + ": no package: " + located->failure);
    return false;
  }
  if (!holds) diagnostics.Error(path + ": the package is not laid out as a launcher reads it");
  return holds;
}
