// A packed installer signed afterwards: the signature holds and the launcher
// runs it; the same installer with one package byte changed no longer
// matches its signature and is refused, with a box only where someone sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "clean_machine_test.h"
#include "installer.h"
#include "launch_log.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "format/signature_answers.h"
#include "tests/support/argument_quoting.h"
#include "tests/support/wait.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

const char kCaption[] = "Quillon\xC2\xAE Vantor";
const long kBadDigest = static_cast<long>(static_cast<std::int32_t>(0x80096010u));  // TRUST_E_BAD_DIGEST

// One package byte flipped and the PE checksum made right again: only the
// signature's digest can tell.
std::string FlipPackageByte(const std::string& setup, const CPeImage& image) {
  std::string bytes = e2e::ReadWholeFile(setup);
  bytes.at(PeImageDataEnd(image) + 384) ^= 0x20;
  CPeChecksum sum(image.checkSumOffset);
  sum.Add(bytes.data(), bytes.size());
  std::uint32_t value = sum.Value();
  std::memcpy(&bytes[image.checkSumOffset], &value, 4);  // little-endian, as the host
  return bytes;
}

// Nothing extracted or launched: the file error line for the installer and
// the launch fail line, both with the reason (the verification's result, or
// the table-end rule's).
void ExpectRefused(std::uint32_t tableSize, long reason = kBadDigest) {
  auto lines = e2e::LogMessages();
  auto patterns = e2e::ExtractionPatterns({}, {false, std::to_string(tableSize)});
  patterns.resize(3);
  patterns.push_back(R"(\[CUtility::FileException\] An unknown error occurred while accessing Z:\\.*\\setup\.exe\.)");
  patterns.push_back(R"(\[CUnPackFileApp::InitInstance\] execute fail)");
  e2e::ExpectLines(lines, patterns);
  for (std::size_t i = 3; i < lines.size(); ++i) EXPECT_EQ(lines[i].error, reason) << lines[i].message;
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost()));
}

TEST(SignatureTest, ASignedInstallerRunsAndOneThatNoLongerMatchesItsSignatureIsRefused) {
  // Every Windows program of the test on the virtual desktop, as the box's.
  ASSERT_TRUE(e2e::UseVirtualDisplay()) << "no virtual desktop: the xvfb.start fixture did not run";
  e2e::HostScratch scratch("sign");
  std::string cert;
  std::string setup = scratch / "setup.exe";
  ASSERT_EQ(e2e::BuildSignedInstaller(scratch, {{"signed.txt", std::string(5000, 's')}}, setup, &cert), 0);
  EXPECT_EQ(e2e::Shell("osslsigncode verify -CAfile " + test_support::ShellQuote(cert) + " -in " +
                       test_support::ShellQuote(setup) + " >/dev/null 2>&1"), 0);

  CPeImage image;
  ASSERT_TRUE(e2e::ReadInstallerImage(setup, &image));
  std::uint32_t tableSize = PeDirectory(image, kPeSecurityDirectory).size;
  ASSERT_GT(tableSize, 0u);

  // Its certificate's root is trusted nowhere: that is for the elevation
  // prompt to show, and the launcher runs it as before.
  e2e::ClearMachineState();
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "0"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(e2e::LogHas("[CUnPack::FindHeader] Sign Size:" + std::to_string(tableSize) + "  "));
  EXPECT_TRUE(e2e::LogHas("UnPack count:1 len:5000 File:"));
  EXPECT_TRUE(e2e::LogHas("execute done code:0"));
  // The header offset line shows its own step's error, not the check's.
  for (const auto& line : e2e::LogMessages()) {
    if (line.message.find("] Header offset:") != std::string::npos) {
      EXPECT_EQ(line.error, 0) << line.message;
    }
  }

  std::string tampered = scratch / "tampered";
  fs::create_directories(tampered);
  tampered += "/setup.exe";
  ASSERT_TRUE(e2e::WriteWholeFile(tampered, FlipPackageByte(setup, image)));
  std::vector<std::string> args = {e2e::WindowsPath(e2e::TestChild()), "exit", "0"};

  // Started as a service would start it: nobody could answer a box.
  e2e::DeleteLog();
  auto unattended = e2e::RunWindows(e2e::TestChild(), {"unseen", e2e::WindowsPath(tampered), args[0], "exit", "0"},
                                    std::chrono::seconds(60));
  EXPECT_FALSE(unattended.timedOut) << "a box nobody can see held the run";
  EXPECT_EQ(unattended.exitCode, 0);
  ExpectRefused(tableSize);

  // A damaged signature block: the table cut short (a broken download), or
  // the signer's signature value changed (the last bytes of the signed data
  // before the table's padding, as no timestamp follows it).
  const std::string bytes = e2e::ReadWholeFile(setup);
  const std::uint32_t tableAt = PeDirectory(image, kPeSecurityDirectory).virtualAddress;
  std::uint32_t certificateLength = 0;
  std::memcpy(&certificateLength, &bytes[tableAt], 4);
  std::string signerFlipped = bytes;
  signerFlipped.at(tableAt + certificateLength - 16) ^= 0x01;
  const struct {
    const char* what;
    std::string bytes;
    long reason;  // 0: any refusal the shared table names
  } damaged[] = {
      {"cut short by 1 byte", bytes.substr(0, bytes.size() - 1), static_cast<long>(static_cast<std::int32_t>(0x80092003u))},
      {"cut short by 100 bytes", bytes.substr(0, bytes.size() - 100), static_cast<long>(static_cast<std::int32_t>(0x80092003u))},
      {"a byte flipped in the signer's signature value", signerFlipped, 0},
  };
  for (const auto& row : damaged) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(e2e::WriteWholeFile(tampered, row.bytes));
    e2e::DeleteLog();
    auto refused = e2e::RunWindows(e2e::TestChild(), {"unseen", e2e::WindowsPath(tampered), args[0], "exit", "0"},
                                   std::chrono::seconds(60));
    EXPECT_EQ(refused.exitCode, 0);
    auto lines = e2e::LogMessages();
    ASSERT_GE(lines.size(), 2u);
    long reason = row.reason ? row.reason : lines.back().error;
    if (!row.reason) {
      EXPECT_TRUE(SignatureAnswerRefuses(static_cast<std::uint32_t>(reason), 1)) << std::hex << reason;
    }
    ExpectRefused(tableSize, reason);
  }
  ASSERT_TRUE(e2e::WriteWholeFile(tampered, FlipPackageByte(setup, image)));

  // Double-clicked on the desktop: the person is told, in the product's box,
  // taken once it can be drawn.
  e2e::DeleteLog();
  int pid = e2e::StartWindows(tampered, args);
  std::string shot = std::string(UNPACK_E2E_ARTIFACTS) + "/damaged-box.png";
  fs::create_directories(UNPACK_E2E_ARTIFACTS);
  std::string window = e2e::CaptureWindow(kCaption, shot, std::chrono::seconds(60));
  ASSERT_FALSE(window.empty()) << "no box captioned " << kCaption << " was drawn; windows: "
                               << test_support::ShellOutput("xdotool search --name . getwindowname %@ 2>&1");
  std::cout << "screenshot of the damaged-installer box: " << shot << std::endl;
  EXPECT_TRUE(e2e::DismissBox(window, pid, std::chrono::seconds(30))) << "the box was not dismissed";
  auto seen = e2e::WaitWindows(pid, std::chrono::seconds(5));
  EXPECT_EQ(seen.exitCode, 0);
  ExpectRefused(tableSize);
}

}  // namespace
