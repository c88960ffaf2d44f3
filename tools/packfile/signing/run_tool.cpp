#include "tools/packfile/signing/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

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

int RunCaptured(const std::string& path, const std::vector<std::string>& args, const std::string& input,
                std::string* output) {
  int outFds[2], inFds[2];
  if (pipe2(outFds, O_CLOEXEC) != 0) return -1;
  if (pipe2(inFds, O_CLOEXEC) != 0) {
    close(outFds[0]);
    close(outFds[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inFds[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, outFds[1], 2);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(inFds[0]);
  close(outFds[1]);
  if (spawned == 0 && !input.empty()) {
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
  if (spawned == 0) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(outFds[0], buffer, sizeof(buffer))) > 0 || (got < 0 && errno == EINTR)) {
      if (got > 0) output->append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(outFds[0]);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
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
