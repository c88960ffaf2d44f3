#include "tests/support/host_shell_posix.h"

#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "tests/support/command_line.h"

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

std::string FindWindowByCaption(const std::string& caption) {
  std::vector<std::string> windows = FindWindowsByCaption(caption);
  return windows.empty() ? std::string() : windows.front();
}

int WindowProcessId(const std::string& window) {
  return std::atoi(ShellOutput("xdotool getwindowpid " + ShellQuote(window) + " 2>/dev/null").c_str());
}

// The box raised above the others (they all open at the same place), the
// pointer moved onto the button from elsewhere, then pressed. Without that
// move Wine sends the click to the window it last saw under the pointer, and
// a key sent to a box that Wine does not hold as the foreground window is ignored.
void ClickBoxOk(const std::string& window) {
  Shell("eval $(xdotool getwindowgeometry --shell " + window + "); xdotool windowraise " + window +
        "; sleep 0.3; xdotool mousemove 0 0; sleep 0.2; xdotool mousemove --window " + window +
        " $((WIDTH / 2)) $((HEIGHT - 21)); sleep 0.2; xdotool click 1");
}

}  // namespace test_support
