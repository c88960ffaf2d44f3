#include "bytes/file_bytes.h"

#include <cerrno>
#include <cstring>
#include <limits>

namespace {

// Reads and writes go through std::streamsize, which is signed.
constexpr std::uint64_t kMaxStreamOffset = std::numeric_limits<std::streamoff>::max();

}  // namespace

CFileSource::CFileSource(const std::string& path) {
  errno = 0;
  in_.open(path, std::ios::binary);
  std::streamoff end = -1;
  if (in_) {
    in_.seekg(0, std::ios::end);
    end = in_.tellg();
  }
  if (end < 0) {
    openError_ = errno != 0 ? std::strerror(errno) : "cannot be opened";
    return;
  }
  size_ = static_cast<std::uint64_t>(end);
  open_ = true;
  // A folder opens on some systems, and only a read says it is one.
  char first;
  errno = 0;
  if (size_ > 0 && ReadAt(0, &first, 1) != 1) {
    openError_ = errno != 0 ? std::strerror(errno) : "cannot be read";
    open_ = false;
    size_ = 0;
  }
}

std::size_t CFileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (!open_ || offset >= size_) return 0;
  in_.clear();
  // Reading on from where the last read ended needs no seek: a copy reads
  // the file in order.
  if (offset != next_) in_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
  next_ = UINT64_MAX;
  if (!in_) return 0;
  in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
  auto got = static_cast<std::size_t>(in_.gcount());
  if (got == length) next_ = offset + got;
  return got;
}

CFileSink::CFileSink(const std::string& path) : CFileSink(path, std::ios::out | std::ios::trunc) {}

CFileSink::CFileSink(const std::string& path, CExistingEmpty) : CFileSink(path, std::ios::in | std::ios::out) {}

CFileSink::CFileSink(const std::string& path, std::ios::openmode mode) : out_(path, std::ios::binary | mode) {
  open_ = true;
  if (!out_) Fail();
}

void CFileSink::Fail() {
  if (!open_) return;
  open_ = false;
  errno_ = errno;
}

bool CFileSink::Write(const void* data, std::size_t length) {
  if (!open_) return false;
  out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
  if (!out_) {
    Fail();
    return false;
  }
  written_ += length;
  return true;
}

bool CFileSink::Patch(std::uint64_t offset, const void* data, std::size_t length) {
  if (!open_ || offset > written_ || length > written_ - offset) return false;
  if (written_ > kMaxStreamOffset) return false;
  out_.seekp(static_cast<std::streamoff>(offset), std::ios::beg);
  out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
  out_.seekp(static_cast<std::streamoff>(written_), std::ios::beg);
  if (!out_) Fail();
  return open_;
}

bool CFileSink::Close() {
  if (!out_.is_open()) return open_;
  out_.close();
  if (out_.fail()) Fail();
  return open_;
}
