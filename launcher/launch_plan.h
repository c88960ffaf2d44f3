// What the launcher will start, composed from its inputs alone: the form,
// the file, its parameters, the directory it starts in, the environment
// changes, or the reason nothing may start. No system calls: the launch
// itself (command_launch.h) carries the plan out.
#pragma once

#include <windows.h>

#include "format/log_vocabulary.h"
#include "framework/cstring.h"
#include "hardening/child_environment.h"
#include "launcher/program_lookup.h"

// The source tag of the launch lines.
constexpr wchar_t kLogSourceInitInstance[] = L"" UNPACK_LOG_SOURCE_INIT_INSTANCE;

struct CLaunchInputs {
  int argc = 0;
  wchar_t** argv = nullptr;     // argv[0] is the launcher
  const wchar_t* heldDir = L"";  // the held work directory's own path, with its backslash
  const wchar_t* systemDir = L"";  // the system directory, without a backslash
  const wchar_t* machinePath = L"";  // the machine's own PATH, expanded
  const wchar_t* interpreter = L"cmd.exe";  // as ComposeInterpreterPath gives it
  const wchar_t* logPath = L"";
  const wchar_t* systemEnvironment = nullptr;  // the machine's block; null: unknown
  DWORD refusal = 0;  // why the work directory's content may not run (0: it may)
  const CExtractedFiles* extracted = nullptr;  // null: nothing was extracted
  const CPathProbe* probe = nullptr;            // what lies outside the work directory
};

struct CLaunchPlan {
  BOOL batch = FALSE;
  const wchar_t* shownFile = L"";  // the command as the log's dir line names it
  CString file;                    // what is started, by its full path
  BOOL notFound = FALSE;           // the program form's program was not found where it may be
  CString parameters;
  CString directory;  // the child's current directory
  ChildEnvironment environment = {};
  DWORD refusal = 0;  // nonzero: nothing starts, for this reason
};

// The batch form (fewer than three arguments) runs run.bat through the
// interpreter with /D, only when this run extracted it. The program form
// runs argv[1] as FindProgram finds it (refused, with notFound and
// ERROR_FILE_NOT_FOUND, where it does not). The interpreter too is started
// from the system directory, never searched for.
void ComposeLaunch(const CLaunchInputs& in, CLaunchPlan* plan);

// The places a program is looked for, from the inputs.
CProgramPlaces ProgramPlaces(const CLaunchInputs& in);
