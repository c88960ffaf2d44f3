#include "tools/packfile/core/deferred_file_source.h"

#include <algorithm>

std::size_t CDeferredFileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= size_) return 0;
  if (!file_) file_ = std::make_unique<CFileSource>(path_);
  std::size_t got = file_->ReadAt(offset, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset)));
  if (offset + got >= size_) file_.reset();
  return got;
}
