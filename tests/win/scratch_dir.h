// A fresh folder under the temp directory for one test, removed with its
// files when the test ends.
#pragma once

#include <string>

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder, with a trailing backslash.
  const std::wstring& path() const { return path_; }
  // path() followed by name.
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

// Makes dir the process's current directory for the scope's lifetime and
// restores the previous one at its end, also when an assertion returns early.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const std::wstring& dir);
  ~CurrentDirectoryScope();
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

  // True when dir became the current directory.
  bool entered() const { return entered_; }

 private:
  std::wstring previous_;
  bool entered_ = false;
};

// Writes bytes to a new file at path (replacing it); false on failure.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
