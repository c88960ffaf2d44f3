// Builds packages in memory for the tests, through the one package writer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

struct CTestEntry {
  std::string name;
  std::uint64_t size;
};

// The launcher `image` with `entries` (pattern data, seed = position) appended,
// CheckSum filled in.
Bytes BuildPackage(const Bytes& image, const std::vector<CTestEntry>& entries,
                   const std::string& launcherName = "UnPackFile.exe");
