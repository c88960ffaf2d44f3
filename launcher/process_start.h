// Starting the child without the shell: the shell's "open" reads the merged
// class view, where the user's own classes decide what an elevated launch
// starts. An executable is started as the machine's own exefile association
// starts it; any other file by its type's open command in the machine's
// classes alone.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/handle.h"
#include "launcher/program_lookup.h"

// The command line of an open command: %1 and %L become the file (the
// command's own quotes around it stay), %* the parameters, %% a percent
// sign, any other %x nothing. FALSE when the command never names the file.
BOOL ComposeOpenCommand(const wchar_t* command, const wchar_t* file, const wchar_t* parameters, CString* line);

// The program an open command line starts: its first word, quoted or not.
CString OpenCommandProgram(const wchar_t* line);

// Starts file (a full path) with parameters in directory, shown or hidden,
// in this process's environment: .exe and .com themselves, any other type
// through its machine open command, whose program is looked up in places
// (never the work directory). TRUE with the child's handle; FALSE with the
// system's error set (ERROR_NO_ASSOCIATION for a type without a machine
// open command).
BOOL StartProcess(const CProgramPlaces& places, const wchar_t* file, const wchar_t* parameters,
                  const wchar_t* directory, BOOL shown, CHandle* process);
