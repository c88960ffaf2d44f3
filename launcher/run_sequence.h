// The launcher's run in the order it keeps: the guard's answer, the OS line,
// the extraction, the refusal of a damaged image, the command. What reaches
// beyond the log (the boxes, the launch) comes through CRunSteps, so that a
// test can run the sequence in-process with stand-ins.
#pragma once

#include <windows.h>

#include "launcher/instance_guard.h"

class CUnPack;

class CRunSteps {
 public:
  // Tells a person who can see it that another installation is running.
  virtual void ShowAnotherInstance() = 0;
  // Tells a person who can see it that the installer is damaged.
  virtual void ShowDamaged() = 0;
  // The command launch and wait for the extracted package (LaunchAndWait).
  virtual void LaunchAndWait(CUnPack& unpack, int argc, wchar_t** argv) = 0;

 protected:
  ~CRunSteps() = default;
};

// What the extractor reads and where it works: null for the running image
// and the temporary directory (CUnPack's seams).
struct CRunSources {
  const wchar_t* source = nullptr;
  const wchar_t* workParent = nullptr;
};

// The whole run. A guard that reports another instance shows the box and
// ends it before any line is written; otherwise every step logs and the run
// goes on to the command, unless the image no longer is what was signed.
void RunSequence(const CInstanceGuard& guard, const CRunSources& sources, CRunSteps& steps, int argc,
                 wchar_t** argv);

// The launcher's own steps: the boxes only where a person can see them, and
// the real launch.
CRunSteps& LauncherSteps();
