#include "tools/packfile/core/locate_package.h"

#include "pe/pe_image.h"
#include "tools/packfile/core/shown_name.h"
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

bool LocatePackageOrSay(CByteSource& file, const std::string& path, std::ostream& err, CLocatorRead* located) {
  std::string note;
  *located = LocatePackage(file, &note);
  if (!note.empty()) err << "packfile: note: " << note << "\n";
  if (!located->found) {
    err << "packfile: " << ShownText(path) << ": no package: " << located->failure << "\n";
    return false;
  }
  bool holds = true;
  for (const CFinding& finding : VerifyPackage(file).findings) {
    if (finding.severity != Severity::kFailure || !IsLayoutCheck(finding.check)) continue;
    err << "packfile: " << ShownText(path) << ": " << finding.text << "\n";
    holds = false;
  }
  if (!holds) err << "packfile: " << ShownText(path) << ": the package is not laid out as a launcher reads it\n";
  return holds;
}
