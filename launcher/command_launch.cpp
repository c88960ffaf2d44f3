#include "launcher/command_launch.h"

#include "diagnostics/log.h"
#include "format/log_vocabulary.h"
#include "framework/cstring.h"
#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/child_environment.h"
#include "hardening/shared_folder_file.h"
#include "launcher/command_line.h"
#include "launcher/process_start.h"
#include "package/unpack.h"

namespace {

const wchar_t kExecuteFail[] = L"[%s] " UNPACK_LOG_EXECUTE_FAIL;

// The reason a step failed, never 0: a refusal must not read as success.
DWORD LastErrorOrDenied() {
  DWORD error = ::GetLastError();
  return error ? error : ERROR_ACCESS_DENIED;
}

// Folders are no program; nor is a name the system resolves to a device.
class CFileSystemProbe : public CPathProbe {
 public:
  int KindOf(const wchar_t* path) const override {
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return kNothing;
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT) ? kOther
                                                                                                         : kPlainFile;
  }
};

}  // namespace

DWORD WaitForChild(HANDLE process, DWORD periodMilliseconds) {
  DWORD exitCode = 0;
  for (;;) {
    ::Sleep(periodMilliseconds);
    BOOL known = ::GetExitCodeProcess(process, &exitCode);
    if (known && exitCode != STILL_ACTIVE) break;
    // 259 is also a real exit code, and a failed query says nothing: only
    // the process handle itself tells whether the child has ended.
    if (::WaitForSingleObject(process, 0) != WAIT_TIMEOUT) break;
  }
  return exitCode;
}

BOOL StartAndWait(const CProgramPlaces& places, const CLaunchPlan& plan, DWORD refusal, DWORD periodMilliseconds,
                  DWORD* exitCode) {
  CHandle child;
  if (refusal) ::SetLastError(refusal);
  if (refusal || !StartProcess(places, plan.file, plan.parameters, plan.directory, !plan.batch, &child)) {
    // A type the machine has no open command for: the line names the file.
    if (!refusal && ::GetLastError() == ERROR_NO_ASSOCIATION) CUtility::FileError(plan.file, ERROR_NO_ASSOCIATION);
    CUtility::Log(kExecuteFail, kLogSourceInitInstance);
    return FALSE;
  }
  CUtility::Log(L"[%s] " UNPACK_LOG_EXECUTE_OK "0x%08X", kLogSourceInitInstance,
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(child.Get())));
  CUtility::Log(L"[%s] " UNPACK_LOG_EXECUTE_WAIT "%d", kLogSourceInitInstance,
                static_cast<int>(::GetProcessId(child.Get())));
  *exitCode = WaitForChild(child.Get(), periodMilliseconds);
  return TRUE;
}

void LaunchAndWait(CUnPack& unpack, int argc, wchar_t** argv) {
  wchar_t interpreter[MAX_PATH + 1] = {};
  ComposeInterpreterPath(UseNativeInterpreter(CUtility::IsPreVista(), CUtility::IsWow64()), interpreter);
  // Left empty (nothing system-wide starts) when it does not fit.
  wchar_t systemDir[MAX_PATH + 1] = {};
  ::GetSystemDirectoryW(systemDir, MAX_PATH);
  CString logPath = CUtility::GetLogPath();
  CString workDir = unpack.GetUnPackDir();
  CSystemEnvironment system;

  // The batch output file, held from its creation until the child has ended:
  // the redirection writes wherever the name leads, and everyone may put a
  // name in the log's folder. What stands at its name stays; the output
  // then goes beside it, and the param line shows where.
  CHandle output;
  CString outputStem = logPath;
  DWORD lastError = ::GetLastError();
  DWORD outputError = 0;
  if (argc < 3 && !unpack.LaunchRefusal() && !CreateFreshFile(logPath + L".txt", &output) &&
      !CreateUnforeseeableFile(logPath, L".txt", &outputStem, &output)) {
    outputError = LastErrorOrDenied();
    outputStem = logPath;
  }
  // The lines that follow show what they showed before the file was made.
  ::SetLastError(lastError);

  CLaunchInputs in;
  in.argc = argc;
  in.argv = argv;
  DWORD pathError = 0;
  CString heldDir = unpack.HeldDirPath(&pathError);
  in.heldDir = heldDir;
  in.systemDir = systemDir;
  in.interpreter = interpreter;
  in.logPath = outputStem;
  in.systemEnvironment = system.Load() ? system.Get() : nullptr;
  in.machinePath = system.MachinePath();
  // A launcher that carries no package still runs a program found
  // elsewhere; a package read only in part runs nothing.
  DWORD dirRefusal = unpack.UnPackDirError() ? unpack.UnPackDirError() : pathError;
  BOOL needsPackage = argc < 3 || unpack.FoundPackage();
  in.refusal = needsPackage && unpack.LaunchRefusal() ? unpack.LaunchRefusal() : dirRefusal;
  in.extracted = &unpack;
  CFileSystemProbe probe;
  in.probe = &probe;
  CLaunchPlan plan;
  ComposeLaunch(in, &plan);
  // Found nowhere it may be taken from: the line names it, so that the log
  // says why.
  if (plan.notFound) CUtility::FileError(plan.shownFile, ERROR_FILE_NOT_FOUND);

  CUtility::Log(L"[%s] " UNPACK_LOG_DIR "%s" UNPACK_LOG_FILE "%s" UNPACK_LOG_PARAM "%s", kLogSourceInitInstance,
                workDir.GetString(), plan.shownFile, plan.parameters.GetString());
  DWORD refusal = plan.refusal;
  // The path came from the handle; it must still lead there as it is handed on.
  if (!refusal && !unpack.IsHeldDir(plan.directory)) refusal = ERROR_ACCESS_DENIED;
  if (!refusal && plan.batch && !output.IsValid()) refusal = outputError ? outputError : ERROR_ACCESS_DENIED;
  if (!refusal && !ApplyChildEnvironment(plan.environment)) refusal = LastErrorOrDenied();
  DWORD exitCode = 0;
  BOOL waited = StartAndWait(ProgramPlaces(in), plan, refusal, kChildPollMilliseconds, &exitCode);
  output.Reset();
  // A launch the system failed, or one with nothing to wait for, keeps its
  // files; nothing of a refused run's directory may run, so it goes at once.
  if (!waited && !refusal) {
    unpack.KeepUnPackDir();
    return;
  }
  unpack.CleanUnPackDir();
  if (waited) {
    CUtility::Log(L"[%s] " UNPACK_LOG_EXECUTE_DONE "%d", kLogSourceInitInstance, static_cast<int>(exitCode));
  }
}

void RefuseLaunch(DWORD reason) {
  ::SetLastError(reason);
  CUtility::Log(kExecuteFail, kLogSourceInitInstance);
}
