#include "tests/support/host_shell_posix.h"

#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "tests/support/argument_quoting.h"
#include "tests/support/wait.h"

namespace test_support {

int Shell(const std::string& commandLine) {
  int status = std::system(commandLine.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellOutput(const std::string& commandLine) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(commandLine.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof(buffer), pipe.get())) > 0;) out.append(buffer, got);
  return out;
}

std::vector<std::string> FindWindowsByCaption(const std::string& caption) {
  std::istringstream ids(ShellOutput("xdotool search --name " + ShellQuote("^" + caption + "$") + " 2>/dev/null"));
  std::vector<std::string> windows;
  for (std::string id; ids >> id;) windows.push_back(id);
  return windows;
}

int WindowProcessId(const std::string& window) {
  return std::atoi(ShellOutput("xdotool getwindowpid " + ShellQuote(window) + " 2>/dev/null").c_str());
}

std::string CaptureWindow(const std::string& caption, const std::string& picture, std::chrono::milliseconds limit) {
  std::string captured;
  WaitUntil([&] {
    for (const auto& window : FindWindowsByCaption(caption)) {
      if (Shell("import -window " + window + " " + ShellQuote(picture) + " 2>/dev/null") == 0) {
        captured = window;
        return true;
      }
    }
    return false;
  }, limit);
  return captured;
}

bool HasEnded(int pid) {
  siginfo_t info = {};
  return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Each try first raises the box above the others (they all open at the same
// place) and does nothing once the window is gone. The pointer comes onto the
// box from elsewhere: without that move Wine sends the click to the window it
// last saw under the pointer. Enter goes to the focused window, so the box is
// clicked (beside its text) to make it Wine's foreground window first: a key
// sent to a box that Wine does not hold as the foreground window is ignored.
bool DismissBox(const std::string& window, int pid, std::chrono::milliseconds limit) {
  std::string raise = "g=$(xdotool getwindowgeometry --shell " + window + " 2>/dev/null) && eval \"$g\" && xdotool windowraise " +
                      window + " && sleep 0.3 && xdotool mousemove 0 0 && sleep 0.2 && xdotool mousemove --window " + window;
  const std::string tries[] = {raise + " $((WIDTH / 2)) $((HEIGHT - 21)) && sleep 0.2 && xdotool click 1",
                               raise + " 8 8 && sleep 0.2 && xdotool click 1 && sleep 0.3 && xdotool key Return"};
  auto end = std::chrono::steady_clock::now() + limit;
  for (int attempt = 0; !HasEnded(pid); ++attempt) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) return false;
    Shell(tries[attempt % 2]);
    WaitUntil([&] { return HasEnded(pid); }, std::min(left, std::chrono::milliseconds(3000)));
  }
  return true;
}

}  // namespace test_support
