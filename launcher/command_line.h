// Composing the command that the launcher runs: which interpreter, and the
// parameter string of each form. No system calls besides the ones named.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

// TRUE when the batch form must take the native 64-bit interpreter through the
// "sysnative" alias: a 32-bit launcher on 64-bit Windows Vista or later.
BOOL UseNativeInterpreter(BOOL preVista, BOOL wow64);

// The interpreter path into buffer (261 units): "cmd.exe", or the system
// Windows directory followed by "\sysnative\cmd.exe" when native is TRUE.
// A path that would not fit in 260 units stays "cmd.exe".
void ComposeInterpreterPath(BOOL native, wchar_t (&buffer)[MAX_PATH + 1]);

// "/D /c run.bat > LOGPATH.txt": run.bat's output goes beside the log, and
// /D keeps the interpreter from first running the AutoRun command that the
// user's registry may name.
CString ComposeBatchParameters(const wchar_t* logPath);

// Arguments 2 and up of argv, each followed by one blank, as they stand: no
// quotes are added or restored. Callers rely on this to hand a raw parameter
// string through, so an argument holding a blank reaches the child split.
CString ComposeProgramParameters(int argc, wchar_t** argv);
