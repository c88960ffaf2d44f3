// A small Windows program that end-to-end tests start in place of a real
// installer or a rival installation:
//   test_child exit CODE                 ends at once with CODE (decimal or 0x hex)
//   test_child sleep MS [CODE]           sleeps, then ends with CODE
//   test_child record FILE [ARGS...]     writes its argument vector and working
//                                        directory to FILE (UTF-8, one per line)
//   test_child hold-mutex NAME READY MS  creates mutex NAME, writes READY, sleeps MS
//   test_child window-text CAPTION FILE  writes the texts of the top-level window
//                                        CAPTION and its child windows to FILE
//   test_child wait-for FILE MS          ends with 0 once FILE exists, with 5 when
//                                        MS pass without it
//   test_child list FILE                 writes one line per file of the current
//                                        directory, sorted: name, length and the
//                                        error of an open with no sharing (0: it
//                                        opened), separated by tabs (UTF-8)
//   test_child hold-file PATH READY RELEASE MS [read|reader|delete]
//                                        opens PATH with no sharing (creating it),
//                                        sharing reading only with "read",
//                                        for reading, sharing reading and writing,
//                                        with "reader", or
//                                        for deletion alone, sharing reading,
//                                        with "delete";
//                                        writes READY, holds PATH until RELEASE
//                                        exists or MS pass
//   test_child rename FROM TO            renames FROM to TO; ends with 0 when it
//                                        was renamed, with the system error if not
//   test_child with-temp DIR PROGRAM [ARGS...]
//                                        runs PROGRAM with TMP and TEMP set to
//                                        DIR, waits, ends with its exit code
//   test_child unseen PROGRAM [ARGS...]  runs PROGRAM on a window station that is
//                                        not visible (as a service would), waits,
//                                        ends with its exit code
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/argument_quoting.h"

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

bool WriteText(const std::wstring& path, const std::string& text) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return false;
  fwrite(text.data(), 1, text.size(), f);
  return fclose(f) == 0;
}

DWORD ParseCode(const wchar_t* text) { return static_cast<DWORD>(wcstoul(text, nullptr, 0)); }

BOOL CALLBACK CollectChildText(HWND window, LPARAM lines) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  *reinterpret_cast<std::string*>(lines) += Utf8(text) + "\n";
  return TRUE;
}

int WindowText(const std::wstring& caption, const std::wstring& out) {
  HWND window = FindWindowW(nullptr, caption.c_str());
  if (!window) return 2;
  std::string lines = "caption:" + Utf8(caption) + "\n";
  EnumChildWindows(window, CollectChildText, reinterpret_cast<LPARAM>(&lines));
  return WriteText(out, lines) ? 0 : 3;
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Polls for path until limit ms have passed; true when it appeared.
bool WaitForFile(const wchar_t* path, DWORD limit) {
  DWORD start = GetTickCount();
  while (!Exists(path)) {
    if (GetTickCount() - start >= limit) return false;
    Sleep(50);
  }
  return true;
}

// The open a second writer would need: it fails with a sharing violation
// while anyone else still holds a handle to the file.
DWORD ExclusiveOpenError(const std::wstring& name) {
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

int ListCurrentDirectory(const std::wstring& out) {
  std::vector<std::string> lines;
  WIN32_FIND_DATAW found = {};
  HANDLE find = FindFirstFileW(L"*", &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      lines.push_back(Utf8(found.cFileName) + "\t" + std::to_string(size) + "\t" +
                      std::to_string(ExclusiveOpenError(found.cFileName)) + "\n");
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const auto& line : lines) text += line;
  return WriteText(out, text) ? 0 : 3;
}

// share: "read", "reader" (reads, lets writers in but not a deletion),
// "delete" (opened for deletion only, readers let in), or none.
int HoldFile(const wchar_t* path, const wchar_t* ready, const wchar_t* release, DWORD limit, const std::wstring& share) {
  DWORD access = share == L"delete" ? DELETE : share == L"reader" ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD mode = share == L"read" || share == L"delete" ? FILE_SHARE_READ
               : share == L"reader"                   ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                                      : 0;
  HANDLE file = CreateFileW(path, access, mode, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  WriteText(ready, "ready\n");
  WaitForFile(release, limit);
  CloseHandle(file);
  return 0;
}

// Runs argv[0] with the arguments after it and returns its exit code; 4
// when it cannot start. desktop: the window station and desktop it runs on
// (null: ours).
int RunChild(int argc, wchar_t** argv, wchar_t* desktop) {
  std::wstring commandLine = test_support::JoinArguments(argc, argv);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[0], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 4;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 4;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

// GetTempPathW reads TMP before TEMP: both must name the folder.
int RunWithTemp(const wchar_t* dir, int argc, wchar_t** argv) {
  if (!SetEnvironmentVariableW(L"TMP", dir) || !SetEnvironmentVariableW(L"TEMP", dir)) return 4;
  return RunChild(argc, argv, nullptr);
}

// As a service starts a program: on a window station of its own, which no
// one sees.
int RunUnseen(int argc, wchar_t** argv) {
  HWINSTA visible = GetProcessWindowStation();
  HWINSTA unseen = CreateWindowStationW(L"unpack-unseen", 0, WINSTA_ALL_ACCESS, nullptr);
  if (!unseen || !SetProcessWindowStation(unseen)) return 4;
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(visible);
  if (!desktop) return 4;
  wchar_t name[] = L"unpack-unseen\\Default";
  return RunChild(argc, argv, name);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 100;
  std::wstring mode = argv[1];
  if (mode == L"exit" && argc >= 3) return static_cast<int>(ParseCode(argv[2]));
  if (mode == L"sleep" && argc >= 3) {
    Sleep(ParseCode(argv[2]));
    return argc >= 4 ? static_cast<int>(ParseCode(argv[3])) : 0;
  }
  if (mode == L"record" && argc >= 3) {
    wchar_t cwd[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::string text = "cwd:" + Utf8(cwd) + "\n";
    for (int i = 3; i < argc; ++i) text += "arg:" + Utf8(argv[i]) + "\n";
    return WriteText(argv[2], text) ? 0 : 3;
  }
  if (mode == L"hold-mutex" && argc >= 5) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, argv[2]);
    if (!mutex) return 4;
    WriteText(argv[3], "ready\n");
    Sleep(ParseCode(argv[4]));
    CloseHandle(mutex);
    return 0;
  }
  if (mode == L"window-text" && argc >= 4) return WindowText(argv[2], argv[3]);
  if (mode == L"wait-for" && argc >= 4) return WaitForFile(argv[2], ParseCode(argv[3])) ? 0 : 5;
  if (mode == L"list" && argc >= 3) return ListCurrentDirectory(argv[2]);
  if (mode == L"hold-file" && argc >= 6)
    return HoldFile(argv[2], argv[3], argv[4], ParseCode(argv[5]), argc >= 7 ? argv[6] : L"");
  if (mode == L"rename" && argc >= 4)
    return MoveFileW(argv[2], argv[3]) ? 0 : static_cast<int>(GetLastError());
  if (mode == L"with-temp" && argc >= 4) return RunWithTemp(argv[2], argc - 3, argv + 3);
  if (mode == L"unseen" && argc >= 3) return RunUnseen(argc - 2, argv + 2);
  return 100;
}
