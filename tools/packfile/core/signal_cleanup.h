// What SIGINT, SIGTERM and SIGHUP undo before packfile ends: the signing
// tool's process group is ended (it would otherwise go on talking to a
// time-stamp service or a token), then every temporary file and folder
// registered here is removed, files first so that the folders are empty, and
// the signal ends packfile as it would have. A signal packfile was started
// ignoring (nohup) stays ignored.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

// Registers a temporary file, or a folder; the slot to release, or -1 when
// there is no room (it is then removed only by its owner).
int WatchTemporary(const std::string& path, bool folder);
void ReleaseTemporary(int slot);

// The running signing tool: a session leader, whose process group a signal
// ends. 0 when none runs.
void WatchChildGroup(pid_t group);

// Holds the three signals off while it lives, so that a temporary file or a
// child made and registered within never escapes the handler.
class CSignalsHeld {
 public:
  CSignalsHeld();
  ~CSignalsHeld();
  CSignalsHeld(const CSignalsHeld&) = delete;
  CSignalsHeld& operator=(const CSignalsHeld&) = delete;
  // The mask to restore, for a child that must not inherit the hold.
  const sigset_t& Previous() const { return previous_; }

 private:
  sigset_t previous_;
};

// The signals handled, for a child that resets them before it runs a program.
extern const int kCleanupSignals[3];
