#include "package_links.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/argument_quoting.h"
#include "tests/support/wait.h"

namespace {

using UnixFileNameFn = char*(CDECL*)(const WCHAR*);

// The Unix path of a Windows path, through Wine's own export; empty elsewhere.
std::wstring UnixPath(const std::wstring& path) {
  if (!path.empty() && path[0] == L'/') return path;
  auto unixFileName = reinterpret_cast<UnixFileNameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!unixFileName) return std::wstring();
  char* name = unixFileName(path.c_str());
  if (!name) return std::wstring();
  std::wstring wide(name, name + strlen(name));  // the prefix paths are ASCII
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

// Starts a host program; Wine starts Unix programs named by their Z: path.
// Their process handles cannot be waited for, so the callers poll.
bool StartHost(const wchar_t* program, std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// True when an entry named path exists, without following it if it is a link.
bool EntryExists(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

// Waits for the entry to exist (or to be gone); the limit only ends a hang.
bool AwaitEntry(const std::wstring& path, bool exists) {
  return test_support::WaitUntil([&] { return EntryExists(path) == exists; }, std::chrono::seconds(10),
                                 std::chrono::milliseconds(10));
}

}  // namespace

bool CUnixLink::Available() { return !UnixPath(L"C:\\").empty(); }

CUnixLink::CUnixLink(const std::wstring& link, const std::wstring& target) : link_(link) {
  std::wstring from = UnixPath(target);
  unixLink_ = UnixPath(link);
  if (from.empty() || unixLink_.empty() || EntryExists(link)) return;
  started_ = StartHost(L"Z:\\bin\\ln", L"ln -s " + test_support::QuoteArgument(from) + L" " + test_support::QuoteArgument(unixLink_));
  made_ = started_ && AwaitEntry(link, true);
}

CUnixLink::~CUnixLink() {
  if (!started_) return;
  if (StartHost(L"Z:\\bin\\rm", L"rm -f " + test_support::QuoteArgument(unixLink_)) && AwaitEntry(link_, false)) return;
  // The scratch folder's removal would now delete what the link points to.
  std::fprintf(stderr, "could not remove the link %ls\n", link_.c_str());
  std::abort();
}
