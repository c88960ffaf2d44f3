// Progress of a long build on stderr, shown only to a person watching a terminal.
#pragma once

#include <cstdint>

#include "package/package_writer.h"

class CTerminalProgress {
 public:
  // Shows progress only when stderr is a terminal and `total` is over a few MiB.
  explicit CTerminalProgress(std::uint64_t total);
  // Ends the progress line, if one was drawn.
  ~CTerminalProgress();
  CTerminalProgress(const CTerminalProgress&) = delete;
  CTerminalProgress& operator=(const CTerminalProgress&) = delete;

  // A callback for WritePackage; does nothing when progress is not shown.
  PackProgress Callback();

 private:
  bool active_;
  bool drawn_ = false;
  int lastPercent_ = -1;
};
