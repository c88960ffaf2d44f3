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

// "/c run.bat > LOGPATH.txt": run.bat's output goes beside the log.
CString ComposeBatchParameters(const wchar_t* logPath);

// Appends argument as the C runtime's parser will split it back out: quoted
// when it is empty or holds a blank, tab or double quote (backslashes before
// a quote doubled, quotes escaped), unchanged otherwise; then one blank.
void AppendArgument(CString& parameters, const wchar_t* argument);

// Arguments 2 and up of argv, each through AppendArgument.
CString ComposeProgramParameters(int argc, wchar_t** argv);
