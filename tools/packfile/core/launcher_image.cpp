#include "tools/packfile/core/launcher_image.h"

#include <algorithm>
#include <cstring>

#include "pe/pe_resources.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/package_facts.h"

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

namespace {

constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
// The product name the launcher's version block carries, as UTF-16LE.
constexpr char16_t kProductName[] = u"Quillon\u00AE Vantor";
constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;

bool HoldsUtf16(const std::vector<std::uint8_t>& data, const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return std::search(data.begin(), data.end(), bytes.begin(), bytes.end()) != data.end();
}

}  // namespace

std::string VersionString(const std::vector<std::uint8_t>& data, const std::u16string& key) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : key + u'\0') {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  auto at = std::search(data.begin(), data.end(), bytes.begin(), bytes.end());
  if (at == data.end()) return "";
  std::size_t value = static_cast<std::size_t>(at - data.begin()) + bytes.size();
  value = (value + 3) & ~std::size_t{3};
  std::string text;
  for (; value + 1 < data.size(); value += 2) {
    std::uint32_t unit = data[value] | data[value + 1] << 8;
    if (unit == 0) break;
    AppendUtf8(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit, &text);
  }
  return text;
}

CLauncherIdentity IdentifyLauncher(CByteSource& file, const CPeImage& pe) {
  CLauncherIdentity identity;
  identity.architecture = pe.machine == kMachineI386    ? "32-bit x86"
                          : pe.machine == kMachineAmd64 ? "64-bit x64"
                                                        : "machine " + to_string(pe.machine);
  std::vector<CPeResource> resources;
  std::string error;
  ReadPeResources(file, pe, &resources, &error);
  std::vector<const CPeResource*> blocks = FindPeResources(resources, kRtVersion, 1);
  if (blocks.empty()) {
    identity.why = "it has no version block";
    return identity;
  }
  const std::vector<std::uint8_t>& data = blocks[0]->data;
  identity.originalName = VersionString(data, u"OriginalFilename");
  // The fixed part starts with its signature, 4-byte aligned after the key.
  for (std::size_t at = 0; at + 16 <= data.size(); at += 4) {
    std::uint32_t words[4];
    std::memcpy(words, data.data() + at, sizeof(words));
    if (words[0] != kFixedFileInfoSignature) continue;
    identity.fileVersion = to_string(words[2] >> 16) + "." + to_string(words[2] & 0xFFFF) + "." +
                           to_string(words[3] >> 16) + "." + to_string(words[3] & 0xFFFF);
    break;
  }
  if (identity.fileVersion.empty()) {
    identity.why = "its version block has no fixed part";
  } else if (!HoldsUtf16(data, kProductName)) {
    // What it is instead, so that a wrong file given by mistake is recognised.
    std::string product = VersionString(data, u"ProductName");
    identity.why = "its version block names " + (product.empty() ? std::string("no product") : "product " + product) +
                   (identity.originalName.empty() ? "" : ", file " + identity.originalName) + ", version " +
                   identity.fileVersion;
  } else {
    identity.ours = true;
  }
  return identity;
}

std::string LauncherJson(const CLauncherIdentity& identity) {
  return std::string(",\"launcherKnown\":") + (identity.ours ? "true" : "false") + ",\"launcherVersion\":" +
         JsonStringOrNull(identity.fileVersion) + ",\"launcherArchitecture\":" + JsonString(identity.architecture);
}

std::string DescribeLauncher(const CLauncherIdentity& identity) {
  if (!identity.ours) return "not an UnPackFile launcher (" + identity.why + "), " + identity.architecture;
  return "UnPackFile launcher " + identity.fileVersion + ", " + identity.architecture;
}
