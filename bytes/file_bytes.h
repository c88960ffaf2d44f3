// Byte sources and sinks over files, through the standard streams only so
// that the same code builds for the host and for Windows.
#pragma once

#include <fstream>
#include <string>

#include "bytes/byte_stream.h"

// Reads a file; an unopenable file reads as empty (check IsOpen).
class CFileSource : public CByteSource {
 public:
  explicit CFileSource(const std::string& path);
  // True when the file was opened.
  bool IsOpen() const { return open_; }
  // Why it was not: the system's reason, e.g. "No such file or directory".
  const std::string& OpenError() const { return openError_; }
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  std::ifstream in_;
  bool open_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t next_ = UINT64_MAX;  // where the stream stands after the last read; a seek otherwise
  std::string openError_;
};

// Writes a file from its start, creating or truncating it.
class CFileSink : public CByteSink {
 public:
  explicit CFileSink(const std::string& path);
  // Writes an existing empty file, such as a fresh temporary file, without
  // truncating it: on some file systems (ext4) truncation makes closing the
  // file wait until its data is on disk.
  struct CExistingEmpty {};
  CFileSink(const std::string& path, CExistingEmpty);
  // True when the file was opened and no write has failed.
  bool IsOpen() const { return open_; }
  bool Write(const void* data, std::size_t length) override;
  bool Patch(std::uint64_t offset, const void* data, std::size_t length) override;
  // Flushes and closes; false when anything written could not be stored.
  bool Close();
  // The system's error number of the first failure (opening, a write, the
  // close), for its message; 0 while nothing failed.
  int Errno() const { return errno_; }

 private:
  CFileSink(const std::string& path, std::ios::openmode mode);
  // Keeps the first failure's error number; the sink writes nothing more.
  void Fail();

  std::ofstream out_;
  bool open_ = false;
  std::uint64_t written_ = 0;
  int errno_ = 0;
};
