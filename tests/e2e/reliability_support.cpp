#include "reliability_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

extern char** environ;

namespace e2e {

const char kDebuggerChannel[] = "warn+seh";

namespace {

// Undoes Wine's debug-string escaping: \n \r \t \\ \" and \xNN.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

}  // namespace

std::vector<std::string> DebuggerStrings(const std::string& stderrPath) {
  static const std::string kMarker = ":warn:seh:OutputDebugStringA \"";
  std::vector<std::string> strings;
  std::ifstream in(stderrPath);
  for (std::string line; std::getline(in, line);) {
    size_t at = line.find(kMarker);
    if (at == std::string::npos) continue;
    std::string body = line.substr(at + kMarker.size());
    bool shortened = body.size() >= 4 && body.compare(body.size() - 4, 4, "\"...") == 0;
    if (shortened) body.resize(body.size() - 4);
    else if (!body.empty() && body.back() == '"') body.pop_back();
    strings.push_back(Unescape(body) + (shortened ? "..." : ""));
  }
  return strings;
}

bool WriteInstallerDirect(const std::string& out, const std::vector<test_support::CTestFile>& entries) {
  std::string launcher = ReadWholeFile(UNPACK_E2E_LAUNCHER);
  test_support::Bytes image(launcher.begin(), launcher.end());
  return WriteWholeFile(out, test_support::BuildPackageOf(image, entries, "setup.exe"));
}

void Reap(int pid) {
  if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

int CountProcessesWith(const std::string& fragment) {
  int count = 0;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return -1;
  while (dirent* entry = readdir(proc.get())) {
    std::string name = entry->d_name;
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = ReadWholeFile("/proc/" + name + "/cmdline");
    if (cmdline.find(fragment) != std::string::npos) ++count;
  }
  return count;
}

std::vector<ListedFile> ReadListing(const std::string& path) {
  std::vector<ListedFile> files;
  std::istringstream in(ReadWholeFile(path));
  for (std::string line; std::getline(in, line);) {
    ListedFile file;
    size_t a = line.find('\t'), b = line.rfind('\t');
    if (a == std::string::npos || a == b) {
      ADD_FAILURE() << "malformed listing line: " << line;
      continue;
    }
    file.name = line.substr(0, a);
    file.size = std::stoull(line.substr(a + 1, b - a - 1));
    file.openError = std::stoul(line.substr(b + 1));
    files.push_back(file);
  }
  return files;
}

std::ostream& operator<<(std::ostream& out, const ListedFile& file) {
  return out << file.name << " (" << file.size << " bytes, exclusive open error " << file.openError << ")";
}

}  // namespace e2e
