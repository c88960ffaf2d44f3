#include "tools/packfile/signing/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "tools/packfile/core/signal_cleanup.h"

extern char** environ;

std::string FindInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (std::string::size_type start = 0; start <= dirs.size();) {
    std::string::size_type end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

namespace {

// In the child, between fork and exec: its own session, so that a signal
// ends its whole group and no terminal prompt can stop it; ended with
// packfile even when packfile is killed outright.
[[noreturn]] void RunChild(const std::string& path, char* const* argv, int in, int out, pid_t parent,
                           const sigset_t& mask) {
  setsid();
#ifdef __linux__
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  if (getppid() != parent) _exit(127);
  for (int signal : kCleanupSignals) ::signal(signal, SIG_DFL);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
  execve(path.c_str(), argv, environ);
  _exit(127);
}

}  // namespace

int RunCaptured(const std::string& path, const std::vector<std::string>& args, const std::string& input,
                std::string* output) {
  int outFds[2], inFds[2];
  if (pipe2(outFds, O_CLOEXEC) != 0) return -1;
  if (pipe2(inFds, O_CLOEXEC) != 0) {
    close(outFds[0]);
    close(outFds[1]);
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  {
    // The child is registered before a signal can see it unregistered.
    CSignalsHeld held;
    pid_t parent = getpid();
    pid = fork();
    if (pid == 0) RunChild(path, argv.data(), inFds[0], outFds[1], parent, held.Previous());
    if (pid > 0) WatchChildGroup(pid);
  }
  close(inFds[0]);
  close(outFds[1]);
  if (pid > 0 && !input.empty()) {
    // A password is far smaller than a pipe's buffer; a child that exits
    // without reading must not kill packfile with SIGPIPE.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    ssize_t ignored = write(inFds[1], input.data(), input.size());
    (void)ignored;
    sigaction(SIGPIPE, &previous, nullptr);
  }
  close(inFds[1]);
  if (pid > 0) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(outFds[0], buffer, sizeof(buffer))) > 0 || (got < 0 && errno == EINTR)) {
      if (got > 0) output->append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(outFds[0]);
  if (pid < 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  WatchChildGroup(0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ToolMessages(const std::string& output) {
  std::vector<std::string> messages;
  std::string lastStackLine;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line == "Failed" || line.find("pass phrase:") != std::string::npos) continue;
    // OpenSSL's error stack: "40D025E2AD7F0000:error:0688010A:...".
    std::string::size_type colon = line.find(":error:");
    if (colon != std::string::npos && line.find_first_not_of("0123456789ABCDEF") == colon) {
      // Its sixth field is the reason, e.g. "Connection refused".
      std::string::size_type start = 0;
      for (int field = 0; field < 5 && start != std::string::npos; ++field) start = line.find(':', start + 1);
      if (start != std::string::npos) lastStackLine = line.substr(start + 1, line.find(':', start + 1) - start - 1);
      continue;
    }
    messages.push_back(line);
  }
  if (messages.empty() && !lastStackLine.empty()) messages.push_back(lastStackLine);
  return messages;
}

std::string StackReason(const std::string& output) {
  std::string system;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    // "...:received error:...:code=500, reason=Internal Server Error"
    std::string::size_type code = line.find("code=");
    if (line.find(":error:") != std::string::npos && code != std::string::npos) {
      std::string status = line.substr(code + 5);
      std::string::size_type comma = status.find(", reason=");
      return "HTTP " + status.substr(0, comma) + (comma == std::string::npos ? "" : " " + status.substr(comma + 9));
    }
    // "...:error:8000006F:system library:conn_state:Connection refused:FILE:LINE:calling connect(HOST, PORT)"
    // The last such line names the peer: "calling connect(127.0.0.1, 9)".
    std::string::size_type library = line.find(":system library:");
    if (library != std::string::npos) {
      std::string::size_type start = line.find(':', library + 16);
      std::string::size_type end = start == std::string::npos ? start : line.find(':', start + 1);
      if (end == std::string::npos) continue;
      system = line.substr(start + 1, end - start - 1);
      std::string::size_type calling = line.find("calling ");
      if (calling != std::string::npos) system += " (" + line.substr(calling + 8) + ")";
    }
  }
  return system;
}
