#include "tools/packfile/launcher_image.h"

#include "tools/packfile/package_facts.h"

using std::to_string;

bool ExamineLauncher(CByteSource& file, bool replace, CLauncherImage* launcher, std::string* error) {
  *launcher = CLauncherImage();
  std::string why;
  if (!ReadPeImage(file, &launcher->pe, &why)) {
    *error = "not a PE image (" + why + ")";
    return false;
  }
  std::uint64_t imageEnd = PeImageDataEnd(launcher->pe);
  if (imageEnd > file.Size()) {
    *error = "the image is cut short: its sections end at " + to_string(imageEnd);
    return false;
  }
  CPackageFacts facts = ReadPackageFacts(file, launcher->pe);
  launcher->hadSignature = facts.security.size != 0;
  launcher->hadPackage = facts.hasStub && LooksLikeStub(facts.stub, facts.stubOffset, imageEnd);
  if (!replace && launcher->hadSignature) {
    *error = "already signed (a " + to_string(facts.security.size) +
             "-byte certificate table); --replace builds from the image without it";
    return false;
  }
  if (!replace && launcher->hadPackage) {
    *error = "already carries a package (header offset " + to_string(facts.stub.size) +
             "); --replace builds from the image without it";
    return false;
  }
  launcher->length = launcher->hadPackage ? facts.stub.size : facts.contentEnd;
  if (launcher->length < imageEnd) {
    *error = "the certificate table or package starts inside the image's sections";
    return false;
  }
  return true;
}
