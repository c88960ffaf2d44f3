// The second half of the run: compose what to launch (launch_plan.h), log
// it, launch it, poll until it has ended, clean the work directory and log
// the child's exit code.
#pragma once

#include <windows.h>

#include "launcher/launch_plan.h"

class CUnPack;

// The wait's period in the product: the child's end is noticed up to this late.
constexpr DWORD kChildPollMilliseconds = 3000;

// Runs the command for the launcher's argument vector (argv[0] is the
// launcher). Failures are logged, never returned: a refusal removes the
// work directory this run holds, a launch the system failed leaves it in
// place; a child that was waited for is followed by the clean-up and the
// done line.
void LaunchAndWait(CUnPack& unpack, int argc, wchar_t** argv);

// The launch step of a run that must start nothing: logs the launch fail
// line with reason as its error, and leaves the work directory untouched.
void RefuseLaunch(DWORD reason);

// Starts plan's file (StartProcess, looking up an open command's program in
// places) unless refusal (nonzero) says why not, logging the
// execute fail, ok and wait lines, then waits for the child, checking every
// periodMilliseconds. TRUE, with the child's exit code, once it has ended;
// FALSE when nothing was started or there is nothing to wait for.
BOOL StartAndWait(const CProgramPlaces& places, const CLaunchPlan& plan, DWORD refusal, DWORD periodMilliseconds,
                  DWORD* exitCode);

// Sleeps a period, then checks; returns once the process has ended, with its
// exit code (unchanged when the system cannot report it). Ends at the child's
// real end even when its exit code is 259.
DWORD WaitForChild(HANDLE process, DWORD periodMilliseconds);
