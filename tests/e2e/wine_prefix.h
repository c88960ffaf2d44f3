// The test's view of the private Wine prefix: running Windows programs in it
// and reading what they leave behind (the log, the temp folder).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/host_shell_posix.h"
#include "tests/support/log_lines.h"
#include "tests/support/scratch_folder.h"

namespace e2e {

struct RunResult {
  int exitCode = -1;       // the Windows program's exit code (low 8 bits as Wine reports them)
  bool timedOut = false;   // killed after the time limit
  std::chrono::milliseconds elapsed{0};
};

// Runs exe (a host path) under wine64 with args; waits at most limit.
RunResult RunWindows(const std::string& exe, const std::vector<std::string>& args,
                     std::chrono::seconds limit = std::chrono::seconds(120));

struct SpawnOptions {
  std::vector<std::string> environment;  // NAME=VALUE added to ours
  std::string stderrPath;                // Wine's stderr goes here; empty: /dev/null
  std::string workingDir;                // the program's current directory (a host path); empty: ours
};

// StartWindows and RunWindows with options.
int StartWindowsWith(const std::string& exe, const std::vector<std::string>& args, const SpawnOptions& options);
RunResult RunWindowsWith(const std::string& exe, const std::vector<std::string>& args, const SpawnOptions& options,
                         std::chrono::seconds limit = std::chrono::seconds(120));

// Starts exe under wine64 without waiting; the host process id, or -1.
int StartWindows(const std::string& exe, const std::vector<std::string>& args);
// Waits for a process from StartWindows; kills it after limit.
RunResult WaitWindows(int pid, std::chrono::seconds limit);

// Points DISPLAY at the virtual X server of the xvfb fixture, so that the
// Windows programs started afterwards show their windows there. False when
// the fixture has not run.
bool UseVirtualDisplay();


// The prefix folder, C:\windows and the user's temp folder on the host.
std::string PrefixDir();
std::string WindowsDir();
std::string UserTempDir();

// The launcher's log file on the host, and its lines decoded from UTF-16LE
// (CR LF removed). Empty when missing.
std::string LogPath();
std::vector<std::wstring> LogLines();
// Deletes the log file (and the batch output beside it).
void DeleteLog();

// Sets name in the prefix's HKCU\Environment as the user (the neighbour) can,
// or deletes it when value is empty; reg's exit code.
int SetUserVariable(const std::string& name, const std::string& value);

using test_support::CaptureWindow;
using test_support::DismissBox;
using test_support::FindWindowsByCaption;
using test_support::Narrow;
using test_support::ReadWholeFile;
using test_support::Shell;
using test_support::WindowProcessId;
using test_support::WriteWholeFile;

}  // namespace e2e
