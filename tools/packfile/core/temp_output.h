// An output file written under a temporary name beside its final path and
// renamed over it only when complete: a failed build leaves no half-written
// installer behind, and neither does SIGINT, SIGTERM or SIGHUP (see
// signal_cleanup.h). A temporary output is locked while its run lives, so
// that a later run can tell one left by a killed run from one in progress.
#pragma once

#include <string>
#include <vector>

#include "tools/packfile/core/message_sink.h"

class CTempOutput {
 public:
  enum class Kind {
    kFile,    // an empty temporary file, Path(), that packfile writes
    kFolder,  // a private temporary folder; Path() names a file in it that a
              // signing tool creates (it refuses to write over a file)
  };
  // Creates the temporary file or folder beside `finalPath`; see Ok().
  explicit CTempOutput(std::string finalPath, Kind kind = Kind::kFile);
  // Removes what it made unless it was committed.
  ~CTempOutput();
  CTempOutput(const CTempOutput&) = delete;
  CTempOutput& operator=(const CTempOutput&) = delete;

  // True when the temporary file or folder exists.
  bool Ok() const { return !path_.empty(); }
  // The file to write.
  const std::string& Path() const { return path_; }
  // What failed, when Ok() or Commit() is false.
  const std::string& Error() const { return error_; }
  // Gives the file the usual permissions and renames it to the final path;
  // false with Error() set, the temporary file then still to be removed.
  bool Commit();

 private:
  std::string final_;
  std::string made_;  // the file, or the folder
  std::string path_;
  std::string error_;
  bool folder_ = false;
  bool committed_ = false;
  int lock_ = -1;  // held open, locked, until the output is committed or removed
  int slots_[2] = {-1, -1};  // in the signal handler's list: the file, the folder
};

// Temporary outputs in the folder of `finalPath` that a killed packfile run
// left there (not locked by a live run), each as "PATH (N bytes)".
std::vector<std::string> FindLeftoverOutputs(const std::string& finalPath);

// Names each of them in a warning (leftover-output). Not the artefact's
// fault, so --strict leaves it a warning; packfile never removes them, since
// it cannot know that no one wants them.
void ReportLeftoverOutputs(const std::string& finalPath, CDiagnostics& diagnostics);
