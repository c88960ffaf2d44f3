#include "launcher/command_launch.h"

#include <shellapi.h>

#include "diagnostics/utility.h"
#include "framework/cstring.h"
#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/child_environment.h"
#include "hardening/shared_folder_file.h"
#include "launcher/command_line.h"
#include "package/unpack.h"

namespace {

const wchar_t kExecuteFail[] = L"[%s] execute fail";

// The reason a step failed, never 0: a refusal must not read as success.
DWORD LastErrorOrDenied() {
  DWORD error = ::GetLastError();
  return error ? error : ERROR_ACCESS_DENIED;
}

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "the 32-bit launch record is 60 bytes");
#endif

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

BOOL StartAndWait(const CLaunchPlan& plan, DWORD refusal, DWORD periodMilliseconds, DWORD* exitCode) {
  SHELLEXECUTEINFOW launch;
  ::ZeroMemory(&launch, sizeof(launch));
  launch.cbSize = sizeof(launch);
  launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  launch.lpVerb = L"open";
  launch.nShow = plan.batch ? SW_HIDE : SW_SHOWNORMAL;
  launch.lpFile = plan.file;
  launch.lpParameters = plan.parameters;
  launch.lpDirectory = plan.directory;
  if (refusal) ::SetLastError(refusal);
  const CSystemApi* api = refusal ? nullptr : SystemApi();
  if (!api || !api->ShellExecuteExW(&launch)) {
    CUtility::Log(kExecuteFail, kLogSourceInitInstance);
    return FALSE;
  }
  CHandle child(launch.hProcess);
  CUtility::Log(L"[%s] execute ok 0x%08X", kLogSourceInitInstance,
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(launch.hProcess)));
  if (!child.IsValid()) return FALSE;
  CUtility::Log(L"[%s] execute wait pid:%d", kLogSourceInitInstance, static_cast<int>(::GetProcessId(child.Get())));
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
  in.refusal = unpack.LaunchRefusal() ? unpack.LaunchRefusal() : pathError;
  in.extracted = &unpack;
  CLaunchPlan plan;
  ComposeLaunch(in, &plan);

  CUtility::Log(L"[%s] dir:%s file:%s param:%s", kLogSourceInitInstance, workDir.GetString(), plan.shownFile,
                plan.parameters.GetString());
  DWORD refusal = plan.refusal;
  // Without the program the system would search on for one of that name.
  if (!refusal && plan.systemProgram && ::GetFileAttributesW(plan.file) == INVALID_FILE_ATTRIBUTES)
    refusal = LastErrorOrDenied();
  // The path came from the handle; it must still lead there as it is handed on.
  if (!refusal && !unpack.IsHeldDir(plan.directory)) refusal = ERROR_ACCESS_DENIED;
  if (!refusal && plan.batch && !output.IsValid()) refusal = outputError ? outputError : ERROR_ACCESS_DENIED;
  if (!refusal && !ApplyChildEnvironment(plan.environment)) refusal = LastErrorOrDenied();
  DWORD exitCode = 0;
  BOOL waited = StartAndWait(plan, refusal, kChildPollMilliseconds, &exitCode);
  output.Reset();
  // A launch the system failed, or one with nothing to wait for, keeps its
  // files; nothing of a refused run's directory may run, so it goes at once.
  if (!waited && !refusal) {
    unpack.KeepUnPackDir();
    return;
  }
  unpack.CleanUnPackDir();
  if (waited) CUtility::Log(L"[%s] execute done code:%d", kLogSourceInitInstance, static_cast<int>(exitCode));
}

void RefuseLaunch(DWORD reason) {
  ::SetLastError(reason);
  CUtility::Log(kExecuteFail, kLogSourceInitInstance);
}
