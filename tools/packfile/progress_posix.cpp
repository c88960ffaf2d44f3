#include "tools/packfile/progress_posix.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Smaller packages are written before anyone would read a percentage.
constexpr std::uint64_t kShowAbove = 8ull << 20;

}  // namespace

CTerminalProgress::CTerminalProgress(std::uint64_t total) : active_(total > kShowAbove && isatty(2)) {}

CTerminalProgress::~CTerminalProgress() {
  if (drawn_) std::fputs("\n", stderr);
}

PackProgress CTerminalProgress::Callback() {
  if (!active_) return PackProgress();
  return [this](std::uint64_t written, std::uint64_t total) {
    int percent = static_cast<int>(written * 100 / total);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    drawn_ = true;
    std::fprintf(stderr, "\rpackfile: %3d%% of %llu MiB", percent,
                 static_cast<unsigned long long>(total >> 20));
    std::fflush(stderr);
  };
}
