#include "launcher/launch_plan.h"

#include "launcher/command_line.h"

namespace {

const wchar_t kBatchFile[] = L"run.bat";

// A drive's root onwards, or a UNC path: the caller chose the file itself.
BOOL IsAbsolutePath(const wchar_t* path) {
  if (path[0] == L'\\' && path[1] == L'\\') return TRUE;
  return path[0] && path[1] == L':' && path[2] == L'\\';
}

// A file name alone, which the system would otherwise search for.
BOOL IsBareName(const wchar_t* name) {
  if (!*name) return FALSE;
  for (const wchar_t* c = name; *c; ++c)
    if (*c == L'\\' || *c == L'/' || *c == L':') return FALSE;
  return TRUE;
}

// The full path the program is started by; FALSE when there is none to trust.
BOOL ResolveProgram(const CLaunchInputs& in, const wchar_t* name, CString* file, BOOL* systemProgram) {
  if (IsAbsolutePath(name)) {
    *file = name;
  } else if (!IsBareName(name)) {
    return FALSE;
  } else if (in.extracted && in.extracted->HasExtracted(name)) {
    file->Format(L"%s%s", in.heldDir, name);
  } else {
    file->Format(L"%s\\%s", in.systemDir, name);
    *systemProgram = TRUE;
  }
  return TRUE;
}

}  // namespace

void ComposeLaunch(const CLaunchInputs& in, CLaunchPlan* plan) {
  plan->batch = in.argc < 3;
  plan->directory = in.heldDir;
  plan->refusal = in.refusal;
  ComposeChildEnvironment(in.systemEnvironment, &plan->environment);
  if (plan->batch) {
    plan->shownFile = in.interpreter;
    plan->parameters = ComposeBatchParameters(in.logPath);
    plan->file.Format(IsAbsolutePath(in.interpreter) ? L"%s" : L"%s\\%s",
                      IsAbsolutePath(in.interpreter) ? in.interpreter : in.systemDir, in.interpreter);
    // The interpreter takes run.bat from its current directory: only this
    // run's own file may be there.
    if (!plan->refusal && !(in.extracted && in.extracted->HasExtracted(kBatchFile))) plan->refusal = ERROR_FILE_NOT_FOUND;
  } else {
    plan->shownFile = in.argv[1] ? in.argv[1] : L"";
    plan->parameters = ComposeProgramParameters(in.argc, in.argv);
    if (!ResolveProgram(in, plan->shownFile, &plan->file, &plan->systemProgram) && !plan->refusal)
      plan->refusal = ERROR_FILE_NOT_FOUND;
  }
  // Without the machine's own values the child would take the user's.
  if (!plan->refusal && !in.systemEnvironment) plan->refusal = ERROR_ENVVAR_NOT_FOUND;
  if (!plan->refusal && (plan->file.GetLength() >= MAX_PATH || plan->directory.GetLength() >= MAX_PATH))
    plan->refusal = ERROR_FILENAME_EXCED_RANGE;
}
