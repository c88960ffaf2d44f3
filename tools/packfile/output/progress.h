// Progress of a long build on stderr: redrawn in place for a person watching
// a terminal, or, on request, one line per tenth for a log that is not one.
#pragma once

#include <cstdint>

#include "format/package_writer.h"

class CProgress {
 public:
  // Shows progress when `total` is over a few MiB and stderr is a terminal,
  // or whenever `requested` (lines, not redrawing, when not a terminal).
  CProgress(std::uint64_t total, bool requested);
  // Ends the progress line, if one was drawn in place.
  ~CProgress();
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;

  // A callback for WritePackage; does nothing when progress is not shown.
  PackProgress Callback();

 private:
  bool active_;
  bool terminal_;
  bool drawn_ = false;
  int lastShown_ = -1;
};
