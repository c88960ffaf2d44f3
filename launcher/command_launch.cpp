#include "launcher/command_launch.h"

#include <shellapi.h>

#include "diagnostics/utility.h"
#include "framework/cstring.h"
#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/shared_folder_file.h"
#include "launcher/command_line.h"
#include "package/unpack.h"

namespace {

const wchar_t kSource[] = L"CUnPackFileApp::InitInstance";
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

void LaunchAndWait(CUnPack& unpack, int argc, wchar_t** argv) {
  SHELLEXECUTEINFOW launch;
  ::ZeroMemory(&launch, sizeof(launch));
  launch.cbSize = sizeof(launch);
  launch.hwnd = nullptr;
  launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  launch.lpVerb = L"open";
  launch.nShow = SW_HIDE;
  CString parameters;
  wchar_t interpreter[MAX_PATH + 1] = {};
  CString workDir = unpack.GetUnPackDir();
  // Only a directory that this run made and holds may be where the command
  // starts: anything else at that path may hold a neighbour's program or
  // run.bat, which would run elevated. Its failure was logged when it came.
  DWORD refusal = unpack.UnPackDirError();
  // The batch output file, held from its creation until the child has ended.
  CHandle output;

  // Where the launcher stood before the batch form moved it into the work
  // directory: a directory that is a process's current directory cannot be
  // removed, so the clean-up steps out of it first.
  wchar_t previousDir[MAX_PATH + 1] = {};
  if (argc < 3) {
    CString logPath = CUtility::GetLogPath();
    ::GetCurrentDirectoryW(MAX_PATH, previousDir);
    // The interpreter finds run.bat in the current directory it inherits;
    // left where it was, it would find whatever lies there.
    if (!refusal && !::SetCurrentDirectoryW(workDir)) refusal = LastErrorOrDenied();
    // The redirection writes wherever the name leads, and everyone may put a
    // name in the log's folder: it must find a new file of our own there.
    if (!refusal && !CreateFreshFile(logPath + L".txt", &output)) refusal = LastErrorOrDenied();
    ComposeInterpreterPath(UseNativeInterpreter(CUtility::IsPreVista(), CUtility::IsWow64()), interpreter);
    parameters = ComposeBatchParameters(logPath);
    launch.lpFile = interpreter;
  } else {
    parameters = ComposeProgramParameters(argc, argv);
    launch.lpDirectory = workDir;
    launch.nShow = SW_SHOWNORMAL;
    launch.lpFile = argv[1];
  }
  launch.lpParameters = parameters;

  CUtility::Log(L"[%s] dir:%s file:%s param:%s", kSource, workDir.GetString(), launch.lpFile,
                launch.lpParameters);
  if (refusal) ::SetLastError(refusal);
  const CSystemApi* api = refusal ? nullptr : SystemApi();
  if (!api || !api->ShellExecuteExW(&launch)) {
    CUtility::Log(kExecuteFail, kSource);
    return;
  }
  CHandle child(launch.hProcess);
  CUtility::Log(L"[%s] execute ok 0x%08X", kSource, static_cast<unsigned>(reinterpret_cast<UINT_PTR>(launch.hProcess)));
  if (!child.IsValid()) return;
  CUtility::Log(L"[%s] execute wait pid:%d", kSource, static_cast<int>(::GetProcessId(child.Get())));
  DWORD exitCode = WaitForChild(child.Get(), kChildPollMilliseconds);
  child.Reset();
  output.Reset();
  if (previousDir[0]) ::SetCurrentDirectoryW(previousDir);
  unpack.CleanUnPackDir();
  CUtility::Log(L"[%s] execute done code:%d", kSource, static_cast<int>(exitCode));
}

void RefuseLaunch(DWORD reason) {
  ::SetLastError(reason);
  CUtility::Log(kExecuteFail, kSource);
}
