// The built launcher images, read with the project's own PE reader: image
// properties and every resource, byte for byte where the bytes are fixed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "bytes/file_bytes.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "pe/pe_resources.h"

namespace {

constexpr std::uint32_t kEnglishUs = 1033;
constexpr std::uint32_t kFrameworkLanguage = 1028;
const std::u16string kProductName = u"Quillon\u00AE Vantor";

struct Image {
  std::string path;
  CPeImage pe;
  std::vector<CPeResource> resources;
};

Image Load(const std::string& path) {
  Image image;
  image.path = path;
  CFileSource file(path);
  EXPECT_TRUE(file.IsOpen()) << path;
  std::string error;
  EXPECT_TRUE(ReadPeImage(file, &image.pe, &error)) << path << ": " << error;
  EXPECT_TRUE(ReadPeResources(file, image.pe, &image.resources, &error)) << path << ": " << error;
  return image;
}

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return U16(b, at) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}

// One node of a version block: key, value bytes, children.
struct VersionNode {
  std::u16string key;
  std::uint16_t type = 0;
  std::vector<std::uint8_t> value;
  std::vector<VersionNode> children;
};

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

VersionNode ParseVersionNode(const std::vector<std::uint8_t>& b, std::size_t at) {
  VersionNode node;
  std::size_t length = U16(b, at), valueLength = U16(b, at + 2);
  node.type = U16(b, at + 4);
  std::size_t p = at + 6;
  for (; U16(b, p) != 0; p += 2) node.key += static_cast<char16_t>(U16(b, p));
  p = Align4(p + 2);
  std::size_t valueBytes = node.type == 1 ? 2 * valueLength : valueLength;  // text values count units
  node.value.assign(b.begin() + p, b.begin() + p + valueBytes);
  p = Align4(p + valueBytes);
  while (p < at + length) {
    VersionNode child = ParseVersionNode(b, p);
    std::size_t childLength = U16(b, p);
    node.children.push_back(child);
    p = Align4(p + childLength);
  }
  return node;
}

std::u16string TextValue(const VersionNode& node) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < node.value.size(); i += 2) text += static_cast<char16_t>(U16(node.value, i));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

// The DLL names of the import directory, lower case, in their order.
std::vector<std::string> ImportedDlls(const std::string& path, const CPeImage& pe) {
  std::vector<std::string> names;
  CFileSource file(path);
  std::uint64_t at = 0;
  if (!PeRvaToFileOffset(pe, PeDirectory(pe, 1).virtualAddress, &at)) return names;
  for (;; at += 20) {
    std::uint8_t descriptor[20] = {};
    if (file.ReadAt(at, descriptor, sizeof(descriptor)) != sizeof(descriptor)) break;
    std::uint32_t nameRva = descriptor[12] | descriptor[13] << 8 | descriptor[14] << 16 | descriptor[15] << 24;
    std::uint64_t nameAt = 0;
    if (nameRva == 0 || !PeRvaToFileOffset(pe, nameRva, &nameAt)) break;
    std::string name;
    char c = 0;
    while (file.ReadAt(nameAt++, &c, 1) == 1 && c != 0) name += static_cast<char>(std::tolower(c));
    names.push_back(name);
  }
  return names;
}

class LauncherImageTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { image_ = Load(GetParam()); }
  Image image_;
};

TEST_P(LauncherImageTest, CarriesItsStringsInEnglish) {
  std::u16string text;
  std::uint32_t language = 0;
  ASSERT_TRUE(FindPeString(image_.resources, 129, &text, &language));
  EXPECT_EQ(text, u"Another installation is in progress. You must complete that installation before starting this one.");
  EXPECT_EQ(language, kEnglishUs);
  ASSERT_TRUE(FindPeString(image_.resources, 130, &text, &language));
  EXPECT_EQ(text, kProductName);
  EXPECT_EQ(language, kEnglishUs);
  ASSERT_TRUE(FindPeString(image_.resources, 131, &text, &language));
  EXPECT_EQ(text.find(u"This installer is damaged and cannot run."), 0u);
  EXPECT_NE(text.find(u"send the file %s to support."), std::u16string::npos) << "the log path goes in its place";
  for (std::uint32_t id = 128; id < 144; ++id) {
    if (id >= 129 && id <= 131) continue;
    EXPECT_FALSE(FindPeString(image_.resources, id, &text, &language)) << "string " << id;
  }
  EXPECT_EQ(FindPeResources(image_.resources, kRtString, 129 / 16 + 1).size(), 1u) << "one language only";
}

TEST_P(LauncherImageTest, CarriesTheFileErrorSentences) {
  const char16_t* sentences[] = {
      u"No error occurred.",
      u"An unknown error occurred while accessing %1.",
      u"%1 was not found.",
      u"%1 contains an incorrect path.",
      u"Could not open %1 because there are too many open files.",
      u"Access to %1 was denied.",
      u"An incorrect file handle was associated with %1.",
      u"Could not remove %1 because it is the current directory.",
      u"Could not create %1 because the directory is full.",
      u"Seek failed on %1",
      u"Encountered a hardware I/O error while accessing %1.",
      u"Encountered a sharing violation while accessing %1.",
      u"Encountered a locking violation while accessing %1.",
      u"Disk full while accessing %1.",
      u"Attempted to access %1 past its end.",
  };
  std::u16string text;
  std::uint32_t language = 0;
  for (int cause = 0; cause < 15; ++cause) {
    ASSERT_TRUE(FindPeString(image_.resources, 61856 + cause, &text, &language)) << "cause " << cause;
    EXPECT_EQ(text, sentences[cause]) << "cause " << cause;
    EXPECT_EQ(language, kFrameworkLanguage);
  }
  ASSERT_TRUE(FindPeString(image_.resources, 61446, &text, &language));
  EXPECT_EQ(text, u"an unnamed file");
}

TEST_P(LauncherImageTest, CarriesOneIconGroupOfThree32BitImages) {
  std::size_t groups = 0;
  for (const auto& r : image_.resources) groups += r.type == kRtGroupIcon;
  ASSERT_EQ(groups, 1u);
  auto group = FindPeResources(image_.resources, kRtGroupIcon, 128);
  ASSERT_EQ(group.size(), 1u);
  EXPECT_EQ(group[0]->language, kFrameworkLanguage);
  const auto& g = group[0]->data;
  ASSERT_EQ(g.size(), 6u + 3 * 14);
  EXPECT_EQ(U16(g, 2), 1) << "icon, not cursor";
  ASSERT_EQ(U16(g, 4), 3);
  const struct {
    unsigned pixels;
    std::uint32_t bytes;
  } expected[] = {{48, 9640}, {32, 4264}, {16, 1128}};
  for (int i = 0; i < 3; ++i) {
    std::size_t e = 6 + 14 * i;
    EXPECT_EQ(g[e], expected[i].pixels);
    EXPECT_EQ(g[e + 1], expected[i].pixels);
    EXPECT_EQ(g[e + 2], 0) << "colour count";
    EXPECT_EQ(U16(g, e + 4), 1) << "planes";
    EXPECT_EQ(U16(g, e + 6), 32) << "bits per pixel";
    EXPECT_EQ(U32(g, e + 8), expected[i].bytes);
    std::uint16_t id = U16(g, e + 12);
    auto icon = FindPeResources(image_.resources, kRtIcon, id);
    ASSERT_EQ(icon.size(), 1u) << "image " << id;
    EXPECT_EQ(icon[0]->language, kFrameworkLanguage);
    const auto& dib = icon[0]->data;
    ASSERT_EQ(dib.size(), expected[i].bytes);
    EXPECT_EQ(U32(dib, 0), 40u) << "header size";
    EXPECT_EQ(U32(dib, 4), expected[i].pixels);
    EXPECT_EQ(U32(dib, 8), 2 * expected[i].pixels) << "height counts the mask too";
    EXPECT_EQ(U16(dib, 14), 32);
  }
}

TEST_P(LauncherImageTest, CarriesTheVersionBlock) {
  auto version = FindPeResources(image_.resources, kRtVersion, 1);
  ASSERT_EQ(version.size(), 1u);
  EXPECT_EQ(version[0]->language, kFrameworkLanguage);
  VersionNode root = ParseVersionNode(version[0]->data, 0);
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
  ASSERT_EQ(root.value.size(), 52u);
  const std::uint32_t fixed[] = {0xFEEF04BD, 0x00010000, 0x00020000, 0x00030160, 0x00020001,
                                 0x00000007, 0x3F,       0,          0x4,        1,
                                 0,          0,          0};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(U32(root.value, 4 * i), fixed[i]) << "fixed field " << i;

  ASSERT_EQ(root.children.size(), 2u);
  const VersionNode& strings = root.children[0];
  EXPECT_EQ(strings.key, u"StringFileInfo");
  ASSERT_EQ(strings.children.size(), 1u);
  EXPECT_EQ(strings.children[0].key, u"040904e4");
  const auto& values = strings.children[0].children;
  const char16_t* keys[] = {u"CompanyName", u"FileDescription", u"FileVersion",
                            u"LegalCopyright", u"ProductName", u"ProductVersion"};
  ASSERT_EQ(values.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(values[i].key, keys[i]) << "entry " << i;
  EXPECT_FALSE(TextValue(values[0]).empty());
  EXPECT_EQ(TextValue(values[1]), kProductName);
  EXPECT_EQ(TextValue(values[2]), u"2.0.3.352");
  EXPECT_FALSE(TextValue(values[3]).empty());
  EXPECT_EQ(TextValue(values[4]), kProductName);
  EXPECT_EQ(TextValue(values[5]), u"2.1.0.7");

  const VersionNode& vars = root.children[1];
  EXPECT_EQ(vars.key, u"VarFileInfo");
  ASSERT_EQ(vars.children.size(), 1u);
  EXPECT_EQ(vars.children[0].key, u"Translation");
  ASSERT_EQ(vars.children[0].value.size(), 4u);
  EXPECT_EQ(U16(vars.children[0].value, 0), 0x0409);
  EXPECT_EQ(U16(vars.children[0].value, 2), 0x04E4);
}

TEST_P(LauncherImageTest, CarriesTheElevationManifestExactly) {
  auto manifests = FindPeResources(image_.resources, kRtManifest, 1);
  ASSERT_EQ(manifests.size(), 1u);
  std::size_t all = 0;
  for (const auto& r : image_.resources) all += r.type == kRtManifest;
  EXPECT_EQ(all, 1u) << "no second manifest from the toolchain";
  EXPECT_EQ(manifests[0]->language, kEnglishUs);
  std::string text(manifests[0]->data.begin(), manifests[0]->data.end());
  const std::string expected =
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <security>\r\n"
      "      <requestedPrivileges>\r\n"
      "        <requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"></requestedExecutionLevel>\r\n"
      "      </requestedPrivileges>\r\n"
      "    </security>\r\n"
      "  </trustInfo>\r\n"
      "</assembly>";
  EXPECT_EQ(text.size(), 357u);
  EXPECT_EQ(text, expected);
}

TEST_P(LauncherImageTest, ItsCheckSumIsRight) {
  CFileSource file(image_.path);
  std::uint32_t sum = 0;
  ASSERT_TRUE(ComputePeChecksum(file, image_.pe.checkSumOffset, &sum));
  EXPECT_EQ(image_.pe.checkSum, sum);
  EXPECT_NE(sum, 0u);
}

// Anything else the loader would resolve before the launcher's first
// instruction, its own folder first: the rest is loaded by hand.
TEST_P(LauncherImageTest, ImportsOnlyKernel32AndTheCRuntime) {
  EXPECT_EQ(ImportedDlls(image_.path, image_.pe), (std::vector<std::string>{"kernel32.dll", "msvcrt.dll"}));
  EXPECT_EQ(PeDirectory(image_.pe, 13).size, 0u) << "no delay-load imports";
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, LauncherImageTest,
                         ::testing::Values(UNPACK_E2E_LAUNCHER32, UNPACK_E2E_LAUNCHER64));

TEST(ShippedImageTest, HasTheImagePropertiesOfThe32BitLauncher) {
  Image image = Load(UNPACK_E2E_LAUNCHER32);
  const CPeImage& pe = image.pe;
  EXPECT_EQ(pe.machine, kPeMachineI386);
  EXPECT_FALSE(pe.pe32plus);
  EXPECT_EQ(pe.subsystem, 2) << "GUI";
  EXPECT_EQ(pe.majorOsVersion, 5);
  EXPECT_EQ(pe.minorOsVersion, 0);
  EXPECT_EQ(pe.majorSubsystemVersion, 5);
  EXPECT_EQ(pe.minorSubsystemVersion, 0);
  EXPECT_EQ(pe.imageBase, 0x400000u);
  EXPECT_TRUE(pe.characteristics & 0x0001) << "relocations stripped";
  EXPECT_EQ(PeDirectory(pe, 5).size, 0u) << "no relocation table";
  EXPECT_EQ(pe.dllCharacteristics, 0x8000) << "terminal-server aware only";
  EXPECT_EQ(pe.stackReserve, 0x100000u);
  EXPECT_EQ(pe.stackCommit, 0x1000u);
  EXPECT_EQ(pe.heapReserve, 0x100000u);
  EXPECT_EQ(pe.heapCommit, 0x1000u);
}

TEST(ShippedImageTest, The64BitBuildIsAGuiProgramForX64) {
  Image image = Load(UNPACK_E2E_LAUNCHER64);
  EXPECT_EQ(image.pe.machine, kPeMachineAmd64);
  EXPECT_EQ(image.pe.subsystem, 2);
}

}  // namespace
