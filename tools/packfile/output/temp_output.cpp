#include "tools/packfile/output/temp_output.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The temporary files alive now, for the signal handler: fixed storage, since
// a handler may not allocate. packfile holds at most two at once (the
// package, then its signed copy).
constexpr int kSlots = 4;
constexpr std::size_t kPathBytes = 4096;
char gPaths[kSlots][kPathBytes];
volatile sig_atomic_t gUsed[kSlots];

// SIGINT, SIGTERM, SIGHUP: remove the temporary files, then end as the signal
// would have ended the process.
void OnSignal(int signal) {
  for (int k = 0; k < kSlots; ++k) {
    if (gUsed[k]) unlink(gPaths[k]);
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallHandlersOnce() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous = {};
    // A signal that was ignored when packfile started (nohup) stays ignored.
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  }
}

int Register(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  InstallHandlersOnce();
  for (int k = 0; k < kSlots; ++k) {
    if (gUsed[k]) continue;
    std::memcpy(gPaths[k], path.c_str(), path.size() + 1);
    gUsed[k] = 1;
    return k;
  }
  return -1;
}

void Unregister(int slot) {
  if (slot >= 0) gUsed[slot] = 0;
}

}  // namespace

CTempOutput::CTempOutput(std::string finalPath) : final_(std::move(finalPath)) {
  std::string::size_type slash = final_.rfind('/');
  std::string folder = slash == std::string::npos ? "" : final_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  // Hidden, and in the same folder so that the rename cannot cross file systems.
  std::string pattern = folder + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // Blocked while the name is made and registered, so a signal never leaves it behind.
  sigset_t block, previous;
  sigemptyset(&block);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, signal);
  sigprocmask(SIG_BLOCK, &block, &previous);
  int fd = mkstemp(name.data());
  int reason = errno;
  if (fd >= 0) slot_ = Register(name.data());
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) {
    error_ = "cannot create a temporary file beside " + final_ + ": " + std::strerror(reason);
    return;
  }
  close(fd);
  path_ = name.data();
}

CTempOutput::~CTempOutput() {
  if (!path_.empty() && !committed_) unlink(path_.c_str());
  Unregister(slot_);
}

bool CTempOutput::Commit() {
  mode_t mask = umask(0);
  umask(mask);
  if (chmod(path_.c_str(), 0666 & ~mask) != 0 || std::rename(path_.c_str(), final_.c_str()) != 0) {
    error_ = "cannot write " + final_ + ": " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  Unregister(slot_);
  slot_ = -1;
  return true;
}
