#include "tools/packfile/output/temp_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

CTempOutput::CTempOutput(std::string finalPath) : final_(std::move(finalPath)) {
  std::string::size_type slash = final_.rfind('/');
  std::string folder = slash == std::string::npos ? "" : final_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  // Hidden, and in the same folder so that the rename cannot cross file systems.
  std::string pattern = folder + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    error_ = "cannot create a temporary file beside " + final_ + ": " + std::strerror(errno);
    return;
  }
  close(fd);
  path_ = name.data();
}

CTempOutput::~CTempOutput() {
  if (!path_.empty() && !committed_) unlink(path_.c_str());
}

bool CTempOutput::Commit() {
  mode_t mask = umask(0);
  umask(mask);
  if (chmod(path_.c_str(), 0666 & ~mask) != 0 || std::rename(path_.c_str(), final_.c_str()) != 0) {
    error_ = "cannot write " + final_ + ": " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}
