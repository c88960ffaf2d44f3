#include "tools/packfile/core/temp_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/packfile/core/signal_cleanup.h"

namespace {

// The signing tool's file inside a temporary folder.
constexpr char kSignedName[] = "signed.exe";

// "." NAME "." and mkstemp's six letters or digits.
bool IsTemporaryName(const std::string& name) {
  if (name.size() < 9 || name[0] != '.' || name[name.size() - 7] != '.') return false;
  for (std::size_t k = name.size() - 6; k < name.size(); ++k) {
    char c = name[k];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// True when no live run holds `fd`'s lock.
bool Unlocked(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) return false;
  flock(fd, LOCK_UN);
  return true;
}

// A leftover file begins as a launcher image does, or is still empty.
bool LeftoverFile(const std::string& path, long long* size) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat facts = {};
  char magic[2] = {};
  bool leftover = fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && Unlocked(fd) &&
                  (facts.st_size == 0 || (read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z'));
  *size = facts.st_size;
  close(fd);
  return leftover;
}

// A leftover folder holds nothing but the signing tool's file.
bool LeftoverFolder(const std::string& path, long long* size) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool leftover = Unlocked(fd);
  close(fd);
  DIR* folder = leftover ? opendir(path.c_str()) : nullptr;
  if (folder == nullptr) return false;
  *size = 0;
  while (struct dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat facts = {};
    leftover = leftover && name == kSignedName && lstat((path + "/" + name).c_str(), &facts) == 0 &&
               S_ISREG(facts.st_mode);
    *size = facts.st_size;
  }
  closedir(folder);
  return leftover;
}

}  // namespace

CTempOutput::CTempOutput(std::string finalPath, Kind kind) : final_(std::move(finalPath)) {
  folder_ = kind == Kind::kFolder;
  std::string::size_type slash = final_.rfind('/');
  std::string folder = slash == std::string::npos ? "" : final_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  // Hidden, and in the same folder so that the rename cannot cross file systems.
  std::string pattern = folder + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  CSignalsHeld held;
  int reason = 0;
  if (folder_) {
    if (mkdtemp(name.data()) != nullptr) {
      lock_ = open(name.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      slots_[1] = WatchTemporary(name.data(), true);
      slots_[0] = WatchTemporary(std::string(name.data()) + "/" + kSignedName, false);
    } else {
      reason = errno;
    }
  } else {
    lock_ = mkstemp(name.data());
    reason = errno;
    if (lock_ >= 0) slots_[0] = WatchTemporary(name.data(), false);
  }
  if (reason != 0 && lock_ < 0) {
    error_ = "cannot create a temporary " + std::string(folder_ ? "folder" : "file") + " beside " + final_ + ": " +
             std::strerror(reason);
    return;
  }
  if (lock_ >= 0) flock(lock_, LOCK_EX | LOCK_NB);
  made_ = name.data();
  path_ = folder_ ? made_ + "/" + kSignedName : made_;
}

CTempOutput::~CTempOutput() {
  if (!made_.empty() && !committed_) {
    unlink(path_.c_str());
    if (folder_) rmdir(made_.c_str());
  }
  for (int slot : slots_) ReleaseTemporary(slot);
  if (lock_ >= 0) close(lock_);
}

bool CTempOutput::Commit() {
  mode_t mask = umask(0);
  umask(mask);
  if (chmod(path_.c_str(), 0666 & ~mask) != 0 || std::rename(path_.c_str(), final_.c_str()) != 0) {
    error_ = "cannot write " + final_ + ": " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  if (folder_) rmdir(made_.c_str());
  return true;
}

std::vector<std::string> FindLeftoverOutputs(const std::string& finalPath) {
  std::string::size_type slash = finalPath.rfind('/');
  std::string folder = slash == std::string::npos ? "." : finalPath.substr(0, slash + 1);
  std::string prefix = slash == std::string::npos ? "" : folder;
  std::vector<std::string> found;
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return found;
  while (struct dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (!IsTemporaryName(name)) continue;
    std::string path = prefix + name;
    struct stat facts = {};
    long long size = 0;
    if (lstat(path.c_str(), &facts) != 0) continue;
    bool leftover = S_ISDIR(facts.st_mode) ? LeftoverFolder(path, &size) : LeftoverFile(path, &size);
    if (leftover) found.push_back(path + " (" + std::to_string(size) + " bytes)");
  }
  closedir(listing);
  std::sort(found.begin(), found.end());
  return found;
}

void ReportLeftoverOutputs(const std::string& finalPath, CDiagnostics& diagnostics) {
  for (const std::string& leftover : FindLeftoverOutputs(finalPath)) {
    diagnostics.Warning("leftover-output", leftover + " is a temporary output left by a packfile run that was "
                                                      "killed; remove it");
  }
}
