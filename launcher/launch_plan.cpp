#include "launcher/launch_plan.h"

#include "format/reading_rules.h"
#include "launcher/command_line.h"

namespace {

const wchar_t kBatchFile[] = L"" UNPACK_BATCH_FILE_NAME;

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
    plan->notFound = !FindProgram(ProgramPlaces(in), plan->shownFile, &plan->file);
    if (plan->notFound && !plan->refusal) plan->refusal = ERROR_FILE_NOT_FOUND;
  }
  // Without the machine's own values the child would take the user's.
  if (!plan->refusal && !in.systemEnvironment) plan->refusal = ERROR_ENVVAR_NOT_FOUND;
  if (!plan->refusal && (plan->file.GetLength() >= MAX_PATH || plan->directory.GetLength() >= MAX_PATH))
    plan->refusal = ERROR_FILENAME_EXCED_RANGE;
}

CProgramPlaces ProgramPlaces(const CLaunchInputs& in) {
  CProgramPlaces places;
  places.heldDir = in.heldDir;
  places.systemDir = in.systemDir;
  places.machinePath = in.machinePath;
  // The kernel's Windows directory and the machine's PATHEXT.
  const wchar_t* windowsDir = FindVariable(in.systemEnvironment, L"windir");
  const wchar_t* pathExt = FindVariable(in.systemEnvironment, L"PATHEXT");
  places.windowsDir = windowsDir ? windowsDir : L"";
  places.pathExt = pathExt ? pathExt : L"";
  places.extracted = in.extracted;
  places.probe = in.probe;
  return places;
}
