// A packed installer signed afterwards: the signature holds, the launcher
// finds its package in front of the certificate table, and a changed package
// byte breaks the signature.
#include <gtest/gtest.h>

#include <filesystem>

#include "clean_machine_test.h"
#include "installer.h"
#include "pe/pe_image.h"
#include "tests/support/command_line.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

TEST(SignatureTest, ASignedInstallerVerifiesAndStillUnpacks) {
  e2e::HostScratch scratch("sign");
  std::string cert;
  std::string setup = scratch / "setup.exe";
  ASSERT_EQ(e2e::BuildSignedInstaller(scratch, {{"signed.txt", std::string(5000, 's')}}, setup, &cert), 0);
  std::string verify = "osslsigncode verify -CAfile " + test_support::ShellQuote(cert) + " -in " + test_support::ShellQuote(setup) + " >/dev/null 2>&1";
  EXPECT_EQ(e2e::Shell(verify), 0) << "osslsigncode accepts the signature";

  CPeImage image;
  ASSERT_TRUE(e2e::ReadInstallerImage(setup, &image));
  std::uint32_t tableSize = PeDirectory(image, kPeSecurityDirectory).size;
  ASSERT_GT(tableSize, 0u);

  e2e::ClearMachineState();
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "0"});
  EXPECT_EQ(run.exitCode, 0);
  bool sawSize = false, sawFile = false;
  for (const auto& line : e2e::LogLines()) {
    sawSize |= line.find(L"[CUnPack::FindHeader] Sign Size:" + std::to_wstring(tableSize) + L"  ") != std::wstring::npos;
    sawFile |= line.find(L"UnPack count:1 len:5000 File:") != std::wstring::npos;
  }
  EXPECT_TRUE(sawSize) << "Sign Size equals the certificate table's size " << tableSize;
  EXPECT_TRUE(sawFile);

  // One changed byte inside the package: the signature no longer holds.
  std::string bytes = e2e::ReadWholeFile(setup);
  std::size_t inside = PeImageDataEnd(image) + 284 + 100;
  ASSERT_LT(inside, bytes.size());
  bytes[inside] = static_cast<char>(bytes[inside] ^ 0x20);
  std::string tampered = scratch / "tampered.exe";
  ASSERT_TRUE(e2e::WriteWholeFile(tampered, bytes));
  EXPECT_NE(e2e::Shell("osslsigncode verify -CAfile " + test_support::ShellQuote(cert) + " -in " +
                       test_support::ShellQuote(tampered) + " >/dev/null 2>&1"), 0);
}

}  // namespace
