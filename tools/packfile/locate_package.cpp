#include "tools/packfile/locate_package.h"

#include "package/pe_image.h"

CLocatorRead LocatePackage(CByteSource& file, bool native, std::string* note) {
  note->clear();
  CLocatorRead literal = LocateLikeLauncher(file);
  CPeImage image;
  std::string error;
  if (!ReadPeImage(file, &image, &error)) return literal;
  auto own = static_cast<std::int32_t>(PeDirectory(image, kPeSecurityDirectory).size);
  CLocatorRead byOwnEntry = LocateWithCertificateSize(file, own);
  if (byOwnEntry.stubOffset != literal.stubOffset || byOwnEntry.headerOffset != literal.headerOffset) {
    *note = "byte 156 of the PE headers holds " + std::to_string(literal.certificateSize) +
            (image.pe32plus ? " (in this PE32+ image, the resource table's size)" : "") +
            " but the image's security entry gives " + std::to_string(own) + "; " +
            (native ? "using the security entry (--native-locator)" : "showing what a launcher reading byte 156 finds");
  }
  return native ? byOwnEntry : literal;
}
