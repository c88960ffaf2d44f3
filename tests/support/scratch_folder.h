// A scratch folder per test and whole-file reads and writes in it, the same
// on the host and under Wine; how a folder is made and removed differs per
// platform (scratch_folder_posix.cpp, scratch_folder_win.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder, removed with everything in it when the scope ends. The
// removal never follows a link planted inside: it removes the link itself.
class CScratchFolder {
 public:
  // A folder named after label under the system temp folder, or under parent.
  explicit CScratchFolder(const std::string& label = "test");
  CScratchFolder(const std::string& label, const std::filesystem::path& parent);
  ~CScratchFolder();
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The folder with a trailing separator, as Windows calls take it.
  std::wstring FolderW() const { return (path_ / L"").wstring(); }
  // The path of name inside the folder.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::wstring operator/(const std::wstring& name) const { return (path_ / name).wstring(); }

 private:
  std::filesystem::path path_;
};

// Makes dir the process's current directory for the scope's lifetime and
// restores the previous one at its end, also when an assertion returns early.
class CCurrentDirectoryScope {
 public:
  explicit CCurrentDirectoryScope(const std::filesystem::path& dir);
  ~CCurrentDirectoryScope();
  CCurrentDirectoryScope(const CCurrentDirectoryScope&) = delete;
  CCurrentDirectoryScope& operator=(const CCurrentDirectoryScope&) = delete;

  // True when dir became the current directory.
  bool Entered() const { return entered_; }

 private:
  std::filesystem::path previous_;
  bool entered_ = false;
};

// Writes bytes to a new file at path (replacing it); false on failure.
bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);
bool WriteWholeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// The file's bytes; empty when it cannot be read. On Windows the file may be
// open for writing elsewhere (the log while a launcher runs).
std::string ReadWholeFile(const std::filesystem::path& path);

}  // namespace test_support
