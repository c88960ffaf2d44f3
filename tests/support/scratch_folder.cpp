#include "tests/support/scratch_folder.h"

namespace test_support {

CCurrentDirectoryScope::CCurrentDirectoryScope(const std::filesystem::path& dir) {
  std::error_code ec;
  previous_ = std::filesystem::current_path(ec);
  std::filesystem::current_path(dir, ec);
  entered_ = !ec;
}

CCurrentDirectoryScope::~CCurrentDirectoryScope() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

bool WriteWholeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  return WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace test_support
