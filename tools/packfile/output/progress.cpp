#include "tools/packfile/output/progress.h"

#include <unistd.h>

#include <cstdio>

#include "tools/packfile/core/message_sink.h"

namespace {

// Smaller packages are written before anyone would read a percentage.
constexpr std::uint64_t kShowAbove = 8ull << 20;

}  // namespace

CProgress::CProgress(std::uint64_t total, bool requested)
    : active_(requested || (total > kShowAbove && isatty(2))), terminal_(isatty(2)) {}

CProgress::~CProgress() {
  if (drawn_ && terminal_) std::fputs("\n", stderr);
}

PackProgress CProgress::Callback() {
  if (!active_) return PackProgress();
  return [this](std::uint64_t written, std::uint64_t total) {
    int percent = total ? static_cast<int>(written * 100 / total) : 100;
    // A log gets a line per tenth; a terminal a redraw per percent.
    int shown = terminal_ ? percent : percent / 10 * 10;
    if (shown == lastShown_) return;
    lastShown_ = shown;
    drawn_ = true;
    std::fprintf(stderr, terminal_ ? "\r%s%3d%% of %llu MiB" : "%s%d%% of %llu MiB\n", kDiagnosticPrefix, shown,
                 static_cast<unsigned long long>(total >> 20));
    std::fflush(stderr);
  };
}
