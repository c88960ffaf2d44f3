#include "tools/packfile/core/signal_cleanup.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

const int kCleanupSignals[3] = {SIGINT, SIGTERM, SIGHUP};

namespace {

// Fixed storage, since a handler may not allocate. packfile holds at most a
// package, its signed copy's folder and file, and a scratch folder of three
// files at once.
constexpr int kSlots = 12;
constexpr std::size_t kPathBytes = 4096;
char gPaths[kSlots][kPathBytes];
volatile sig_atomic_t gUsed[kSlots];
volatile sig_atomic_t gFolder[kSlots];
volatile sig_atomic_t gChild;

void Pause(long nanoseconds) {
  struct timespec pause = {0, nanoseconds};
  nanosleep(&pause, nullptr);
}

// Asks the tool's group to end, gives it a second, then ends what is left.
void EndChildGroup() {
  pid_t group = static_cast<pid_t>(gChild);
  if (group <= 0) return;
  kill(-group, SIGTERM);
  bool reaped = false;
  for (int k = 0; k < 50 && !reaped; ++k) {
    reaped = waitpid(group, nullptr, WNOHANG) == group;
    if (!reaped) Pause(20000000);
  }
  kill(-group, SIGKILL);
  if (!reaped) waitpid(group, nullptr, 0);
}

void OnSignal(int signal) {
  EndChildGroup();
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < kSlots; ++k) {
      if (!gUsed[k] || (gFolder[k] != 0) != (pass == 1)) continue;
      if (pass == 0) {
        unlink(gPaths[k]);
      } else {
        rmdir(gPaths[k]);
      }
    }
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
  for (int signal : kCleanupSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kCleanupSignals) {
    struct sigaction previous = {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  }
}

}  // namespace

int WatchTemporary(const std::string& path, bool folder) {
  if (path.size() >= kPathBytes) return -1;
  InstallHandlersOnce();
  for (int k = 0; k < kSlots; ++k) {
    if (gUsed[k]) continue;
    std::memcpy(gPaths[k], path.c_str(), path.size() + 1);
    gFolder[k] = folder ? 1 : 0;
    gUsed[k] = 1;
    return k;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) gUsed[slot] = 0;
}

void WatchChildGroup(pid_t group) {
  InstallHandlersOnce();
  gChild = group;
}

CSignalsHeld::CSignalsHeld() {
  sigset_t block;
  sigemptyset(&block);
  for (int signal : kCleanupSignals) sigaddset(&block, signal);
  sigprocmask(SIG_BLOCK, &block, &previous_);
}

CSignalsHeld::~CSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
