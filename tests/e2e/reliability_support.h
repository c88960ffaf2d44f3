// What the reliability cases share: starting Windows programs with extra
// environment and their Wine debug output kept, reading the launcher's lines
// from the log or from the debugger output, installers written by the
// project's package writer, and releasing a waiting test child.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "installer.h"
#include "tests/support/package_builder.h"
#include "tests/support/wait.h"
#include "launch_log.h"
#include "wine_prefix.h"

namespace e2e {

// The Wine debug channel that carries OutputDebugStringW: Wine 8 prints each
// string as a warning of channel "seh" ("warn:seh:OutputDebugStringA \"...\"").
extern const char kDebuggerChannel[];


// The strings a run sent to the debugger, from a stderr file written with
// kDebuggerChannel enabled, unescaped. Wine shortens strings of more than
// about 290 characters; those end in "...".
std::vector<std::string> DebuggerStrings(const std::string& stderrPath);

using test_support::WaitUntil;

// Writes an installer onto the test program's launcher with the package writer
// itself, bypassing packfile's checks: names are Windows-1252 bytes as given.
// False when it cannot be written; a writer's failure fails the current test.
bool WriteInstallerDirect(const std::string& out, const std::vector<test_support::CTestFile>& entries);

// Ends a process from StartWindows that a failed case left running (a
// waiting launcher would hold the mutex for the cases after it).
void Reap(int pid);

// Host processes whose command line contains fragment (a unique file name).
int CountProcessesWith(const std::string& fragment);

// Lines of the test child's "list" output: name, length, exclusive-open error.
struct ListedFile {
  std::string name;
  unsigned long long size = 0;
  unsigned long openError = 0;
  bool operator==(const ListedFile& o) const { return name == o.name && size == o.size && openError == o.openError; }
};
std::vector<ListedFile> ReadListing(const std::string& path);
std::ostream& operator<<(std::ostream& out, const ListedFile& file);

}  // namespace e2e
