#include "tools/packfile/sign_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

std::vector<std::string> SignArguments(const CSignOptions& options, const std::string& in, const std::string& out) {
  std::vector<std::string> args = {"osslsigncode", "sign"};
  if (!options.pkcs12.empty()) {
    args.insert(args.end(), {"-pkcs12", options.pkcs12});
  } else {
    args.insert(args.end(), {"-certs", options.certificate, "-key", options.key});
  }
  if (!options.password.empty()) args.insert(args.end(), {"-pass", options.password});
  if (!options.passwordFile.empty()) args.insert(args.end(), {"-readpass", options.passwordFile});
  if (!options.timestampUrl.empty()) args.insert(args.end(), {"-t", options.timestampUrl});
  args.insert(args.end(), {"-h", options.hash, "-in", in, "-out", out});
  return args;
}

// The last non-empty line of a tool's output, for a one-line error.
std::string LastLine(const std::string& text) {
  std::string::size_type end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return "";
  std::string::size_type start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
}

// Runs `path` with `args`, its stdout and stderr captured; the exit status, or -1.
int RunCaptured(const std::string& path, const std::vector<std::string>& args, std::string* output) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned == 0) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof(buffer))) > 0 || (got < 0 && errno == EINTR)) {
      if (got > 0) output->append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(pipeFds[0]);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

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

bool SignWithOsslsigncode(const CSignOptions& options, const std::string& in, const std::string& out,
                          std::string* error) {
  std::string tool = FindInPath("osslsigncode");
  if (tool.empty()) {
    *error = "osslsigncode was not found in PATH; install it (Debian package osslsigncode) to sign";
    return false;
  }
  // osslsigncode will not write over an existing file.
  unlink(out.c_str());
  std::string output;
  int status = RunCaptured(tool, SignArguments(options, in, out), &output);
  if (status != 0) {
    std::string last = LastLine(output);
    *error = "osslsigncode failed (exit " + std::to_string(status) + ")" + (last.empty() ? "" : ": " + last);
    return false;
  }
  return true;
}
