#include "tests/support/scratch_folder.h"

#include <windows.h>

#include <atomic>

namespace test_support {

namespace {

// Deletes a tree without following reparse points (a Unix link under Wine):
// the link goes, what it points to stays.
void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path + L"\\");
      } else if (!DeleteFileW(path.c_str())) {
        RemoveDirectoryW(path.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}

std::filesystem::path TempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

}  // namespace

CScratchFolder::CScratchFolder(const std::string& label) : CScratchFolder(label, TempFolder()) {}

CScratchFolder::CScratchFolder(const std::string& label, const std::filesystem::path& parent) {
  static std::atomic<int> counter{0};
  path_ = parent / ("unpack-" + label + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
  RemoveTree(FolderW());
  CreateDirectoryW(path_.c_str(), nullptr);
}

CScratchFolder::~CScratchFolder() { RemoveTree(FolderW()); }

bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() || (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                              written == bytes.size());
  CloseHandle(h);
  return ok;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

}  // namespace test_support
