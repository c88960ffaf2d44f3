#include "tools/packfile/core/inputs.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/packfile/core/cp1252.h"

namespace fs = std::filesystem;

namespace {

struct CCollector {
  const std::vector<std::string>& excludes;
  CCollectedInputs* inputs;
  std::vector<fs::path> roots;  // the folders given, resolved
  CDiagnostics& diagnostics;

  // True when `path` lies in one of the folders given (compared resolved).
  bool InsideRoots(const fs::path& path) const {
    for (const fs::path& root : roots) {
      auto mismatch = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
      if (mismatch.first == root.end()) return true;
    }
    return false;
  }

  // A link is packed as what it leads to; false after reporting one that
  // leads nowhere. One that leads out of the folders given is named, since
  // it packs a file nobody put in the product (a system file, say).
  bool CheckLink(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec))) return true;
    fs::path target = fs::read_symlink(path, ec);
    fs::path resolved = fs::canonical(path, ec);
    if (ec) {
      diagnostics.Error(path.string() + ": a symbolic link that leads nowhere (to " + target.string() + ")");
      return false;
    }
    if (!InsideRoots(resolved)) {
      inputs->warnings.push_back({kAllowOutsideLink, path.string() + ": a symbolic link leading outside the folders "
                                                       "given, to " + resolved.string() + ": packed as that file"});
    }
    return true;
  }

  bool Excluded(const std::string& name) const {
    for (const std::string& glob : excludes) {
      if (MatchesGlob(glob, name)) return true;
    }
    return false;
  }

  void AddFile(const fs::path& path, const std::string& name) {
    if (Excluded(name)) {
      ++inputs->excluded;
      return;
    }
    if (!CheckLink(path)) return;
    std::error_code ec;
    CInputFile file;
    file.path = path.string();
    file.size = fs::file_size(path, ec);
    if (ec) {
      diagnostics.Error(file.path + ": " + ec.message(), Fault::kCannotCheck);
      return;
    }
    // Found now, not halfway through writing the installer.
    errno = 0;
    if (!std::ifstream(file.path, std::ios::binary)) {
      diagnostics.CannotOpen(file.path, errno != 0 ? SystemReason() : "cannot be opened");
      return;
    }
    if (!Utf8ToCp1252(name, &file.name)) {
      diagnostics.Error(file.path + ": the name " + name + " is not UTF-8 text that Windows-1252 can hold");
      return;
    }
    inputs->files.push_back(file);
  }

  void AddFolder(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      children.push_back(it->path());
    }
    if (ec) {
      diagnostics.Error(folder.string() + ": cannot read the folder: " + ec.message(), Fault::kCannotCheck);
      return;
    }
    std::sort(children.begin(), children.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    for (const fs::path& child : children) {
      fs::file_status status = fs::status(child, ec);
      if (fs::is_directory(status)) {
        if (!Excluded(child.filename().string())) {
          diagnostics.Error(child.string() + ": a folder inside a folder; packages hold no folders "
                            "(see the README's recipe for nested products)");
        }
      } else if (fs::is_regular_file(status)) {
        AddFile(child, child.filename().string());
      } else if (fs::exists(status) || CheckLink(child)) {
        diagnostics.Error(child.string() + ": not a regular file");
      }
    }
  }

  void AddItem(const std::string& text) {
    std::error_code ec;
    fs::file_status status = fs::status(fs::path(text), ec);
    std::string::size_type equals = text.find('=');
    if (!fs::exists(status) && equals != std::string::npos && equals > 0 &&
        text.find('/') > equals) {
      std::string name = text.substr(0, equals), path = text.substr(equals + 1);
      status = fs::status(fs::path(path), ec);
      if (fs::is_regular_file(status)) {
        AddFile(path, name);
      } else if (CheckLink(path)) {
        diagnostics.Error(path + ": no such file (for the entry " + name + ")", Fault::kCannotCheck);
      }
    } else if (!fs::exists(status)) {
      if (CheckLink(text)) diagnostics.Error(text + ": no such file or folder", Fault::kCannotCheck);
    } else if (fs::is_directory(status)) {
      AddFolder(text);
    } else if (fs::is_regular_file(status)) {
      AddFile(text, fs::path(text).filename().string());
    } else {
      diagnostics.Error(text + ": not a regular file");
    }
  }
};

}  // namespace

bool MatchesGlob(const std::string& glob, const std::string& name) {
  std::size_t g = 0, n = 0;
  std::size_t starGlob = std::string::npos, starName = 0;  // where to resume after the last *
  while (n < name.size()) {
    bool matched = false;
    std::size_t next = g + 1;
    if (g < glob.size() && glob[g] == '*') {
      starGlob = g++;
      starName = n;
      continue;
    }
    if (g < glob.size() && glob[g] == '?') {
      matched = true;
    } else if (g < glob.size() && glob[g] == '[') {
      std::size_t k = g + 1;
      bool negate = k < glob.size() && (glob[k] == '!' || glob[k] == '^');
      if (negate) ++k;
      bool inSet = false;
      std::size_t first = k;
      for (; k < glob.size() && (glob[k] != ']' || k == first); ++k) {
        if (k + 2 < glob.size() && glob[k + 1] == '-' && glob[k + 2] != ']') {
          inSet = inSet || (name[n] >= glob[k] && name[n] <= glob[k + 2]);
          k += 2;
        } else {
          inSet = inSet || name[n] == glob[k];
        }
      }
      if (k < glob.size()) {
        matched = inSet != negate;
        next = k + 1;
      } else {
        matched = name[n] == '[';  // no closing bracket: a plain '['
      }
    } else if (g < glob.size() && glob[g] == '\\' && g + 1 < glob.size()) {
      matched = name[n] == glob[g + 1];
      next = g + 2;
    } else {
      matched = g < glob.size() && name[n] == glob[g];
    }
    if (matched) {
      g = next;
      ++n;
    } else if (starGlob != std::string::npos) {
      g = starGlob + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (g < glob.size() && glob[g] == '*') ++g;
  return g == glob.size();
}

bool ReadInput(const std::string& path, std::string* bytes, std::string* reason, std::size_t limit) {
  bytes->clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *reason = SystemReason();
    return false;
  }
  char buffer[4096];
  while (bytes->size() < limit && file.read(buffer, sizeof(buffer)).gcount() > 0) {
    bytes->append(buffer, static_cast<std::size_t>(file.gcount()));
  }
  if (bytes->size() > limit) bytes->resize(limit);
  return true;
}

bool ReadFileList(const std::string& source, std::istream& stdinStream, std::vector<std::string>* items,
                  std::string* error) {
  std::ifstream file;
  if (source != "-") {
    file.open(source, std::ios::binary);
    if (!file) {
      *error = source + ": cannot read the file list: " + SystemReason();
      return false;
    }
  }
  std::istream& in = source == "-" ? stdinStream : file;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) items->push_back(line);
  }
  if (in.bad()) {
    *error = source + ": the file list could not be read to its end: " + SystemReason();
    return false;
  }
  return true;
}

bool CollectInputs(const std::vector<std::string>& items, const std::vector<std::string>& excludes,
                   CCollectedInputs* inputs, CDiagnostics& diagnostics) {
  std::size_t errorsBefore = diagnostics.Errors().size();
  CCollector collector{excludes, inputs, {}, diagnostics};
  // Every folder first: a link named before its folder may lead into it.
  for (const std::string& item : items) {
    std::error_code ec;
    if (!fs::is_directory(fs::status(item, ec))) continue;
    inputs->folders.push_back(item);
    fs::path resolved = fs::canonical(item, ec);
    if (!ec) collector.roots.push_back(resolved);
  }
  for (const std::string& item : items) collector.AddItem(item);
  return diagnostics.Errors().size() == errorsBefore;
}
