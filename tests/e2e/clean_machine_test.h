// The fixture base of the cases that run launchers. The log and the work
// directory are machine-wide (which is why these cases hold one lock), so
// each case starts from a machine that no installation ran on yet, with a
// scratch folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "installer.h"
#include "wine_prefix.h"

namespace e2e {

// Deletes the log and removes the work directory, whatever an earlier case
// or an interrupted run left there.
inline void ClearMachineState() {
  DeleteLog();
  std::filesystem::remove_all(WorkDirHost());
  // The directories earlier runs made beside something in the way.
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(WorkDirHost()).parent_path(), missing))
    if (entry.path().filename().string().rfind("unpack.", 0) == 0) std::filesystem::remove_all(entry.path(), missing);
}

class CleanMachineTest : public ::testing::Test {
 protected:
  // scratch_ is the build tree's folder "e2e-<scratchName>", removed after the case.
  explicit CleanMachineTest(const std::string& scratchName) : scratch_(scratchName) {}

  // A fixture with steps of its own overrides this and calls ClearMachineState
  // where its case needs the machine clean (after a check that may skip it).
  void SetUp() override { ClearMachineState(); }

  HostScratch scratch_;
};

}  // namespace e2e
