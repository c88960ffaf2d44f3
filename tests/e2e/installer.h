// Installers for end-to-end tests, built the way a release engineer builds
// them: files in a folder, packed by packfile onto the launcher the test
// program runs (the 64-bit build, or the shipped 32-bit one for the win32 cases).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "tests/support/scratch_folder.h"

namespace e2e {

// A scratch folder for one test under the build tree rather than the temp
// folder: the large cases write packages of several GiB, more than a
// memory-backed /tmp may hold.
class HostScratch : public test_support::CScratchFolder {
 public:
  explicit HostScratch(const std::string& name) : CScratchFolder("e2e-" + name, std::filesystem::current_path()) {}
  std::string path() const { return Path().string(); }
};

// Packs files (name -> bytes) onto the test program's launcher into `out`; extra
// packfile options in `options`. Returns packfile's exit code.
int BuildInstaller(const HostScratch& scratch, const std::map<std::string, std::string>& files,
                   const std::string& out, const std::vector<std::string>& options = {});
// Packs the files of folder (none when empty) onto the launcher into out, as
// BuildInstaller does. Returns packfile's exit code.
int PackFolder(const std::string& folder, const std::string& out, const std::vector<std::string>& options = {});

// The Windows name of a host path (Wine's Z: drive).
std::string WindowsPath(const std::string& hostPath);

// The work directory on the host and as the launcher names it.
std::string WorkDirHost();
std::string WorkDirWindows();

// Every file below root with its bytes: what "nothing changed" compares.
std::map<std::string, std::string> Snapshot(const std::string& root);

// The test child program (tests/win/test_child.cpp) on the host.
std::string TestChild();

// Packs files onto the launcher as BuildInstaller does (without run.bat),
// signed with a self-signed code-signing certificate made with openssl in the
// scratch folder; cert is set to the certificate's path. packfile's exit
// code, or -1 when openssl fails.
int BuildSignedInstaller(const HostScratch& scratch, const std::map<std::string, std::string>& files,
                         const std::string& out, std::string* cert);
// Reads the PE facts of a built installer; false, failing the current test
// with the reader's error, when it is not a PE image.
bool ReadInstallerImage(const std::string& path, CPeImage* image);
// Plants the test DLL (tests/win/planted_dll.c) in folder under the names of
// DLLs that Windows, its shell and its user interface look for on demand, as
// a neighbour would beside an installer. Loaded, each leaves NAME.loaded.
void PlantDlls(const std::string& folder);
// The names of the markers in folder that loaded planted DLLs left.
std::vector<std::string> LoadedMarkers(const std::string& folder);
// Proves the planted DLL works: copies it into folder as planted.dll, has
// rundll32 (a Windows path, of the bitness the DLL was built for) load it,
// and returns the markers left, {"planted.dll.loaded"} when it ran.
std::vector<std::string> LoadPlantedDll(const std::string& folder, const std::string& rundll32);

}  // namespace e2e
