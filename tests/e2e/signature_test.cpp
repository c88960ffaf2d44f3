// A packed installer signed afterwards: the signature holds and the launcher
// runs it; the same installer with one package byte changed no longer
// matches its signature and is refused, with a box only where someone sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "installer.h"
#include "log_lines.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "tests/support/command_line.h"
#include "tests/support/wait.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

const char kCaption[] = "Quillon\xC2\xAE Vantor";
const long kBadDigest = static_cast<long>(static_cast<std::int32_t>(0x80096010u));  // TRUST_E_BAD_DIGEST

// The installer with one package byte flipped and its PE checksum made right
// again: only the signature's digest can tell.
std::string FlipPackageByte(const std::string& setup, const CPeImage& image) {
  std::string bytes = e2e::ReadWholeFile(setup);
  std::size_t inside = PeImageDataEnd(image) + 284 + 100;
  EXPECT_LT(inside, bytes.size());
  bytes[inside] = static_cast<char>(bytes[inside] ^ 0x20);
  CPeChecksum sum(image.checkSumOffset);
  sum.Add(bytes.data(), bytes.size());
  std::uint32_t value = sum.Value();
  for (int i = 0; i < 4; ++i) bytes[image.checkSumOffset + i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// The refused run's lines: the locator's first lines, the file error line
// for the installer and the launch fail line, both with the verification's
// result as their error; nothing extracted, nothing launched.
void ExpectRefused(const std::string& tableSize) {
  auto lines = e2e::LogMessages();
  e2e::RunFacts facts;
  facts.signSize = tableSize;
  auto patterns = e2e::ExtractionPatterns({}, facts);
  patterns.resize(3);
  patterns.push_back(R"(\[CUtility::FileException\] An unknown error occurred while accessing Z:\\.*\\setup\.exe\.)");
  patterns.push_back(R"(\[CUnPackFileApp::InitInstance\] execute fail)");
  e2e::ExpectLines(lines, patterns);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3].error, kBadDigest);
  EXPECT_EQ(lines[4].error, kBadDigest);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "a refused run makes no work directory";
}

TEST(SignatureTest, ASignedInstallerRunsAndOneThatNoLongerMatchesItsSignatureIsRefused) {
  e2e::HostScratch scratch("sign");
  std::string cert;
  std::string setup = scratch / "setup.exe";
  ASSERT_EQ(e2e::BuildSignedInstaller(scratch, {{"signed.txt", std::string(5000, 's')}}, setup, &cert), 0);
  std::string verify = "osslsigncode verify -CAfile " + test_support::ShellQuote(cert) + " -in ";
  EXPECT_EQ(e2e::Shell(verify + test_support::ShellQuote(setup) + " >/dev/null 2>&1"), 0);

  CPeImage image;
  ASSERT_TRUE(e2e::ReadInstallerImage(setup, &image));
  std::uint32_t tableSize = PeDirectory(image, kPeSecurityDirectory).size;
  ASSERT_GT(tableSize, 0u);

  // Its certificate comes from a root that nobody trusts: that is for the
  // elevation prompt to show, and the launcher runs it as before.
  e2e::DeleteLog();
  fs::remove_all(e2e::WorkDirHost());
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "0"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(e2e::LogHas("[CUnPack::FindHeader] Sign Size:" + std::to_string(tableSize) + "  "));
  EXPECT_TRUE(e2e::LogHas("UnPack count:1 len:5000 File:"));
  EXPECT_TRUE(e2e::LogHas("execute done code:0"));

  std::string tampered = scratch / "tampered";
  fs::create_directories(tampered);
  tampered += "/setup.exe";
  ASSERT_TRUE(e2e::WriteWholeFile(tampered, FlipPackageByte(setup, image)));
  EXPECT_NE(e2e::Shell(verify + test_support::ShellQuote(tampered) + " >/dev/null 2>&1"), 0);
  std::vector<std::string> child = {e2e::WindowsPath(e2e::TestChild()), "exit", "0"};

  // Started as a service would start it: no one could answer a box, so the
  // run ends on its own.
  e2e::DeleteLog();
  std::vector<std::string> unseen = {"unseen", e2e::WindowsPath(tampered)};
  unseen.insert(unseen.end(), child.begin(), child.end());
  auto unattended = e2e::RunWindows(e2e::TestChild(), unseen, std::chrono::seconds(60));
  EXPECT_FALSE(unattended.timedOut) << "a box nobody can see held the run";
  EXPECT_EQ(unattended.exitCode, 0);
  ExpectRefused(std::to_string(tableSize));

  // Double-clicked on the desktop: the person is told, by the product's box.
  ASSERT_TRUE(e2e::UseVirtualDisplay()) << "no virtual desktop: the xvfb.start fixture did not run";
  e2e::DeleteLog();
  int pid = e2e::StartWindows(tampered, child);
  std::string window;
  ASSERT_TRUE(test_support::WaitUntil([&] { return !(window = e2e::FindWindowByCaption(kCaption)).empty(); },
                                      std::chrono::seconds(60)))
      << "no box captioned " << kCaption;
  std::string texts = scratch / "texts.txt";
  e2e::RunWindows(e2e::TestChild(), {"window-text", kCaption, e2e::WindowsPath(texts)});
  EXPECT_NE(e2e::ReadWholeFile(texts).find("damaged"), std::string::npos) << e2e::ReadWholeFile(texts);
  EXPECT_NE(e2e::ReadWholeFile(texts).find("C:\\windows\\Temp\\unpack.log"), std::string::npos);
  fs::create_directories(UNPACK_E2E_ARTIFACTS);
  std::string shot = std::string(UNPACK_E2E_ARTIFACTS) + "/damaged-box.png";
  EXPECT_EQ(e2e::Shell("import -window " + window + " " + test_support::ShellQuote(shot) + " 2>/dev/null"), 0);
  std::cout << "screenshot of the damaged-installer box: " << shot << std::endl;
  e2e::ClickBoxOk(window);
  auto seen = e2e::WaitWindows(pid, std::chrono::seconds(30));
  EXPECT_FALSE(seen.timedOut) << "the box was not dismissed";
  EXPECT_EQ(seen.exitCode, 0);
  ExpectRefused(std::to_string(tableSize));
}

}  // namespace
