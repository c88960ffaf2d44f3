#include "wine_prefix.h"

#include "installer.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

extern char** environ;

namespace e2e {

int StartWindowsWith(const std::string& exe, const std::vector<std::string>& args, const SpawnOptions& options) {
  // Wine closes the session's desktop once its last program has ended, and
  // the next program to start one decides its display for every later one:
  // started without the virtual display, it would leave a later box nowhere
  // to appear. So every program gets the display while the fixture runs.
  UseVirtualDisplay();
  std::vector<std::string> argv = {UNPACK_E2E_WINE_RUN, exe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> rawArgs;
  for (auto& a : argv) rawArgs.push_back(a.data());
  rawArgs.push_back(nullptr);

  // Our environment with the additions replacing variables of the same name.
  std::vector<std::string> env = options.environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& extra : options.environment) replaced = replaced || extra.substr(0, extra.find('=')) == name;
    if (!replaced) env.push_back(entry);
  }
  std::vector<char*> rawEnv;
  for (auto& e : env) rawEnv.push_back(e.data());
  rawEnv.push_back(nullptr);

  // As StartWindows: no Wine process may keep the test runner's pipes open.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string err = options.stderrPath.empty() ? "/dev/null" : options.stderrPath;
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!options.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
  pid_t pid = 0;
  int rc = posix_spawn(&pid, rawArgs[0], &actions, nullptr, rawArgs.data(), rawEnv.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? static_cast<int>(pid) : -1;
}

RunResult RunWindowsWith(const std::string& exe, const std::vector<std::string>& args, const SpawnOptions& options,
                         std::chrono::seconds limit) {
  return WaitWindows(StartWindowsWith(exe, args, options), limit);
}

int StartWindows(const std::string& exe, const std::vector<std::string>& args) {
  return StartWindowsWith(exe, args, SpawnOptions());
}

RunResult WaitWindows(int pid, std::chrono::seconds limit) {
  RunResult result;
  if (pid <= 0) return result;
  auto start = std::chrono::steady_clock::now();
  int status = 0;
  if (!test_support::WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit,
                               std::chrono::milliseconds(20))) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result.timedOut = true;
  }
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

RunResult RunWindows(const std::string& exe, const std::vector<std::string>& args, std::chrono::seconds limit) {
  return WaitWindows(StartWindows(exe, args), limit);
}

bool UseVirtualDisplay() {
  std::string display = ReadWholeFile(UNPACK_E2E_XVFB_DIR "/display");
  display = display.substr(0, display.find('\n'));
  if (display.empty()) return false;
  setenv("DISPLAY", display.c_str(), 1);
  return true;
}

std::string PrefixDir() { return UNPACK_E2E_WINEPREFIX; }

std::string WindowsDir() { return PrefixDir() + "/drive_c/windows"; }

std::string UserTempDir() {
  const passwd* user = getpwuid(getuid());
  return PrefixDir() + "/drive_c/users/" + (user ? user->pw_name : "root") + "/Temp";
}

std::string LogPath() { return WindowsDir() + "/temp/unpack.log"; }

std::vector<std::wstring> LogLines() { return test_support::DecodeLogLines(ReadWholeFile(LogPath())); }

void DeleteLog() {
  std::remove(LogPath().c_str());
  std::remove((LogPath() + ".txt").c_str());
  // The output files runs put beside a name that was in the way.
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(WindowsDir() + "/temp", missing))
    if (entry.path().filename().string().rfind("unpack.log.", 0) == 0) std::filesystem::remove(entry.path(), missing);
}

int SetUserVariable(const std::string& name, const std::string& value) {
  if (value.empty()) return RunWindows("reg", {"delete", "HKCU\\Environment", "/v", name, "/f"}).exitCode;
  return RunWindows("reg", {"add", "HKCU\\Environment", "/v", name, "/d", value, "/f"}).exitCode;
}

}  // namespace e2e
