// A small Windows program that end-to-end tests start in place of a real
// installer or a rival installation:
//   test_child exit CODE                 ends at once with CODE (decimal or 0x hex)
//   test_child sleep MS [CODE]           sleeps, then ends with CODE
//   test_child record FILE [ARGS...]     writes its argument vector and working
//                                        directory to FILE (UTF-8, one per line)
//   test_child hold-mutex NAME READY MS  creates mutex NAME, writes READY, sleeps MS
//   test_child window-text CAPTION FILE  writes the texts of the top-level window
//                                        CAPTION and its child windows to FILE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
  return 100;
}
