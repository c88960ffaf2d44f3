#include "tests/support/scratch_folder.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace test_support {

CScratchFolder::CScratchFolder(const std::string& label) : CScratchFolder(label, std::filesystem::temp_directory_path()) {}

CScratchFolder::CScratchFolder(const std::string& label, const std::filesystem::path& parent) {
  std::string pattern = (parent / ("unpack-" + label + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder " << pattern;
  path_ = pattern;
}

// remove_all removes a symbolic link itself, not what it points to.
CScratchFolder::~CScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test_support
