#include "tools/packfile/inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "package/cp1252.h"

namespace fs = std::filesystem;

namespace {

void AddFile(const fs::path& path, std::vector<CInputFile>* files, std::vector<std::string>* errors) {
  std::error_code ec;
  CInputFile file;
  file.path = path.string();
  file.size = fs::file_size(path, ec);
  if (ec) {
    errors->push_back(file.path + ": " + ec.message());
    return;
  }
  if (!Utf8ToCp1252(path.filename().string(), &file.name)) {
    errors->push_back(file.path + ": the name is not UTF-8 text that Windows-1252 can hold");
    return;
  }
  files->push_back(file);
}

void AddFolder(const fs::path& folder, std::vector<CInputFile>* files, std::vector<std::string>* errors) {
  std::error_code ec;
  std::vector<fs::path> children;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    children.push_back(it->path());
  }
  if (ec) {
    errors->push_back(folder.string() + ": " + ec.message());
    return;
  }
  std::sort(children.begin(), children.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
  for (const fs::path& child : children) {
    fs::file_status status = fs::status(child, ec);
    if (fs::is_directory(status)) {
      errors->push_back(child.string() + ": a folder inside a folder; packages hold no folders");
    } else if (fs::is_regular_file(status)) {
      AddFile(child, files, errors);
    } else {
      errors->push_back(child.string() + ": not a regular file");
    }
  }
}

}  // namespace

bool CollectInputs(const std::vector<std::string>& paths, std::vector<CInputFile>* files,
                   std::vector<std::string>* errors) {
  std::size_t errorsBefore = errors->size();
  for (const std::string& text : paths) {
    std::error_code ec;
    fs::path path(text);
    fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
      errors->push_back(text + ": no such file or folder");
    } else if (fs::is_directory(status)) {
      AddFolder(path, files, errors);
    } else if (fs::is_regular_file(status)) {
      AddFile(path, files, errors);
    } else {
      errors->push_back(text + ": not a regular file");
    }
  }
  return errors->size() == errorsBefore;
}
