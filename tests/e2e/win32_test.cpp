// The shipped 32-bit launcher as a WOW64 process, where its image differs
// from the 64-bit one the other end-to-end tests run: the OS probe reports
// x64:1 and the batch form must reach the native interpreter through the
// sysnative alias; the launch record is the 32-bit layout; the locator reads
// the certificate size from the PE32 optional header. Cases that depend on
// the 32-bit import table or DLL search belong here too.
//
// The program form starts the 64-bit test child: what it records is the
// launch as the 32-bit launcher made it, whatever the child's own bitness.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "clean_machine_test.h"
#include "installer.h"
#include "launch_log.h"
#include "pe/pe_image.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

class Win32Test : public e2e::CleanMachineTest {
 protected:
  Win32Test() : CleanMachineTest("win32") {}
  // The lines each case's run appended, for the record of what the shipped
  // image did on this machine.
  void TearDown() override {
    std::cout << "lines the run appended to C:\\windows\\Temp\\unpack.log:\n";
    for (const auto& line : e2e::LogLines()) std::cout << e2e::Narrow(line) << "\n";
  }

  e2e::RunFacts wow64_{true};
};

TEST_F(Win32Test, TheBatchFormRunsTheNativeInterpreterThroughSysnative) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_,
                                {{"hello.txt", "hello\r\n"},
                                 {"run.bat", "@echo off\r\necho ran in %CD% as %PROCESSOR_ARCHITECTURE%\r\nexit /b 0\r\n"}},
                                setup),
            0);
  auto run = e2e::RunWindows(setup, {});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  std::cout << "the 32-bit launcher's run took " << run.elapsed.count() << " ms\n";

  auto patterns = e2e::ExtractionPatterns({"hello.txt", "run.bat"}, wow64_);
  for (const auto& p : e2e::LaunchPatterns(R"(C:\windows\sysnative\cmd.exe)", e2e::kBatchParam)) patterns.push_back(p);
  e2e::ExpectLines(e2e::LogMessages(), patterns);

  // A 32-bit interpreter would report x86: only the native one says AMD64.
  std::string workDir = e2e::WorkDirWindows().substr(0, e2e::WorkDirWindows().size() - 1);
  std::string output = e2e::ReadWholeFile(e2e::LogPath() + ".txt");
  EXPECT_NE(output.find("ran in " + workDir + " as AMD64"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "the work directory is removed after the child";
}

TEST_F(Win32Test, TheProgramFormHandsTheChildItsArgumentsAndTheWorkDirectory) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"data.bin", "x"}}, setup, {"--no-run-bat"}), 0);
  std::string record = scratch_ / "argv.txt";
  std::string child = e2e::WindowsPath(e2e::TestChild());
  // Joined as they stand: split at the blank, the escaped quote handed on raw.
  auto run = e2e::RunWindows(setup, {child, "record", e2e::WindowsPath(record), "plain", "two words", "", "c\"d", "/x"});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);

  std::string workDir = e2e::WorkDirWindows();
  EXPECT_EQ(e2e::ReadWholeFile(record),
            "cwd:" + workDir.substr(0, workDir.size() - 1) + "\narg:plain\narg:two\narg:words\narg:cd /x \n");

  auto patterns = e2e::ExtractionPatterns({"data.bin"}, wow64_);
  std::string param = "record " + e2e::WindowsPath(record) + R"( plain two words  c"d /x )";
  for (const auto& p : e2e::LaunchPatterns(child, param)) patterns.push_back(p);
  e2e::ExpectLines(e2e::LogMessages(), patterns);
}

// The 32-bit image has its own import table and DLL search: DLLs a neighbour
// planted beside it (as 32-bit DLLs, the only kind it could load) stay unloaded.
TEST_F(Win32Test, DllsPlantedBesideTheInstallerAreNotLoaded) {
  // The planted DLL does leave its marker when a 32-bit process loads it.
  ASSERT_EQ(e2e::LoadPlantedDll(scratch_ / "control", R"(C:\windows\syswow64\rundll32.exe)"),
            std::vector<std::string>{"planted.dll.loaded"});

  std::string folder = scratch_ / "downloads";
  fs::create_directories(folder);
  std::string setup = folder + "/setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", "@echo off\r\necho installed\r\n"}}, setup), 0);
  e2e::PlantDlls(folder);
  auto run = e2e::RunWindows(setup, {});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(e2e::LoadedMarkers(folder), std::vector<std::string>{}) << "the neighbour's DllMain ran in the launcher";
  EXPECT_NE(e2e::ReadWholeFile(e2e::LogPath() + ".txt").find("installed"), std::string::npos) << "the installation ran";
}

TEST_F(Win32Test, TheLocatorFindsASignedInstallersPackageBeforeTheCertificate) {
  std::string cert;
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildSignedInstaller(scratch_, {{"signed.txt", std::string(5000, 's')}}, setup, &cert), 0);
  CPeImage image;
  ASSERT_TRUE(e2e::ReadInstallerImage(setup, &image));
  std::uint32_t tableSize = PeDirectory(image, kPeSecurityDirectory).size;
  ASSERT_GT(tableSize, 0u);

  std::string record = scratch_ / "argv.txt";
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "record", e2e::WindowsPath(record)});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);

  // The package begins where the image's own data ends, and the certificate
  // size the 32-bit locator logs is the one in the file's PE32 header.
  e2e::RunFacts facts = wow64_;
  facts.signSize = std::to_string(tableSize);
  facts.headerOffset = std::to_string(PeImageDataEnd(image));
  auto patterns = e2e::ExtractionPatterns({"signed.txt"}, facts);
  for (const auto& p : e2e::LaunchPatterns(e2e::WindowsPath(e2e::TestChild()), "record " + e2e::WindowsPath(record) + " "))
    patterns.push_back(p);
  e2e::ExpectLines(e2e::LogMessages(), patterns);
  EXPECT_NE(e2e::ReadWholeFile(record).find("cwd:"), std::string::npos) << "the child ran";
}

}  // namespace
