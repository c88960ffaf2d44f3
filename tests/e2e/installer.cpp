#include "installer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bytes/file_bytes.h"
#include "tests/support/argument_quoting.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace e2e {

using test_support::ShellQuote;

int BuildInstaller(const HostScratch& scratch, const std::map<std::string, std::string>& files,
                   const std::string& out, const std::vector<std::string>& options) {
  std::string folder = scratch / "package";
  fs::remove_all(folder);
  fs::create_directories(folder);
  for (const auto& [name, bytes] : files) WriteWholeFile(folder + "/" + name, bytes);
  return PackFolder(files.empty() ? "" : folder, out, options);
}

int PackFolder(const std::string& folder, const std::string& out, const std::vector<std::string>& options) {
  std::string command = ShellQuote(UNPACK_E2E_PACKFILE) + " build --launcher " + ShellQuote(UNPACK_E2E_LAUNCHER) +
                        " --out " + ShellQuote(out);
  for (const auto& option : options) command += " " + ShellQuote(option);
  if (!folder.empty()) command += " " + ShellQuote(folder);
  return Shell(command + " >/dev/null 2>&1");
}

std::string WindowsPath(const std::string& hostPath) {
  std::string path = "Z:" + hostPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string WorkDirHost() { return UserTempDir() + "/unpack"; }

std::string WorkDirWindows() {
  std::string user = UserTempDir();
  std::string tail = user.substr(PrefixDir().size() + std::string("/drive_c").size());
  return WindowsPath(tail).replace(0, 2, "C:") + "\\unpack\\";
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code missing;  // a folder that is gone has no files
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, missing))
    if (entry.is_regular_file()) files[entry.path().string()] = ReadWholeFile(entry.path().string());
  return files;
}

std::string TestChild() { return UNPACK_E2E_TEST_CHILD; }

int BuildSignedInstaller(const HostScratch& scratch, const std::map<std::string, std::string>& files,
                         const std::string& out, std::string* cert) {
  *cert = scratch / "cert.pem";
  std::string key = scratch / "key.pem";
  if (Shell("openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj /CN=UnPackFile-test -keyout " +
            ShellQuote(key) + " -out " + ShellQuote(*cert) + " >/dev/null 2>&1") != 0)
    return -1;
  return BuildInstaller(scratch, files, out, {"--no-run-bat", "--sign", "--cert", *cert, "--key", key});
}

bool ReadInstallerImage(const std::string& path, CPeImage* image) {
  CFileSource file(path);
  std::string error;
  if (ReadPeImage(file, image, &error)) return true;
  ADD_FAILURE() << path << ": " << error;
  return false;
}

void PlantDlls(const std::string& folder) {
  static const char* const kNames[] = {
      "shcore",  "version",  "uxtheme", "dwmapi",   "cryptbase", "propsys", "userenv", "profapi",
      "sspicli", "secur32",  "wintrust", "msasn1",  "apphelp",   "ntmarta", "windows.storage",
      "shlwapi", "comctl32", "ole32",   "oleaut32", "imm32",     "winmm",   "dbghelp", "setupapi"};
  for (const char* name : kNames)
    fs::copy_file(UNPACK_E2E_PLANTED_DLL, folder + "/" + name + ".dll", fs::copy_options::overwrite_existing);
}

std::vector<std::string> LoadPlantedDll(const std::string& folder, const std::string& rundll32) {
  fs::create_directories(folder);
  fs::copy_file(UNPACK_E2E_PLANTED_DLL, folder + "/planted.dll", fs::copy_options::overwrite_existing);
  RunWindows(rundll32, {WindowsPath(folder + "/planted.dll") + ",Nothing"});
  return LoadedMarkers(folder);
}

std::vector<std::string> LoadedMarkers(const std::string& folder) {
  std::vector<std::string> loaded;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".loaded") loaded.push_back(entry.path().filename().string());
  return loaded;
}

}  // namespace e2e
