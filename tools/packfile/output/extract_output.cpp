#include "tools/packfile/output/extract_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>


namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

CExtractOutput::CExtractOutput(const std::string& dir, bool force) : dir_(dir), force_(force) {
  if (mkdir(dir.c_str(), 0777) == 0) {
    createdDir_ = true;
  } else if (errno != EEXIST) {
    error_ = dir + ": cannot create the folder: " + Reason();
    return;
  }
  dirFd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0) {
    error_ = dir + ": not a folder that can be opened: " + Reason();
    return;
  }
  std::string pattern = dir + "/.packfile-extract-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    error_ = dir + ": cannot create a staging folder: " + Reason();
    return;
  }
  stageName_ = std::string(name.data()).substr(dir.size() + 1);
  stageFd_ = openat(dirFd_, stageName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (stageFd_ < 0) error_ = dir + ": cannot open the staging folder: " + Reason();
}

CExtractOutput::~CExtractOutput() {
  if (stageFd_ >= 0) {
    // Staging holds what was not moved in, or the old files a forced commit replaced.
    for (const std::string& name : created_) unlinkat(stageFd_, name.c_str(), 0);
    close(stageFd_);
  }
  if (dirFd_ >= 0) {
    if (!stageName_.empty()) unlinkat(dirFd_, stageName_.c_str(), AT_REMOVEDIR);
    close(dirFd_);
  }
  if (createdDir_ && !committed_) rmdir(dir_.c_str());
}

bool CExtractOutput::Exists(const std::string& name) const {
  struct stat info;
  return fstatat(dirFd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

int CExtractOutput::Create(const std::string& name) {
  int fd = openat(stageFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = dir_ + "/" + name + ": cannot create: " + Reason();
  } else {
    created_.push_back(name);
  }
  return fd;
}

bool CExtractOutput::MoveIn(const std::string& name, bool* exchanged) {
  *exchanged = false;
  struct stat info;
  bool taken = fstatat(dirFd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (taken && !force_) {
    error_ = dir_ + "/" + name + ": exists (--force replaces it)";
    return false;
  }
  if (taken && S_ISDIR(info.st_mode)) {
    error_ = dir_ + "/" + name + ": is a folder";
    return false;
  }
  if (taken) {
    // Swapping keeps the old file (or link) in staging until every entry is in.
    if (renameat2(stageFd_, name.c_str(), dirFd_, name.c_str(), RENAME_EXCHANGE) == 0) {
      *exchanged = true;
      return true;
    }
    if (errno == EINVAL && renameat(stageFd_, name.c_str(), dirFd_, name.c_str()) == 0) return true;
  } else if (renameat2(stageFd_, name.c_str(), dirFd_, name.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  error_ = dir_ + "/" + name + ": cannot move into place: " + Reason();
  return false;
}

void CExtractOutput::MoveBack(std::size_t moved) {
  for (std::size_t k = 0; k < moved; ++k) {
    const char* name = created_[k].c_str();
    if (exchanged_[k]) {
      renameat2(stageFd_, name, dirFd_, name, RENAME_EXCHANGE);
    } else {
      renameat(dirFd_, name, stageFd_, name);
    }
  }
}

bool CExtractOutput::Commit() {
  exchanged_.assign(created_.size(), false);
  for (std::size_t k = 0; k < created_.size(); ++k) {
    bool exchanged = false;
    if (!MoveIn(created_[k], &exchanged)) {
      MoveBack(k);
      return false;
    }
    exchanged_[k] = exchanged;
  }
  committed_ = true;
  return true;
}
