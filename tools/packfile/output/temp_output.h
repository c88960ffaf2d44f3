// An output file written under a temporary name beside its final path and
// renamed over it only when complete: a failed build leaves no half-written
// installer behind, and neither does SIGINT, SIGTERM or SIGHUP (the first
// CTempOutput installs handlers that remove every live temporary file, then
// let the signal end the process).
#pragma once

#include <string>

class CTempOutput {
 public:
  // Creates an empty temporary file in the folder of `finalPath`; see Ok().
  explicit CTempOutput(std::string finalPath);
  // Removes the temporary file unless it was committed.
  ~CTempOutput();
  CTempOutput(const CTempOutput&) = delete;
  CTempOutput& operator=(const CTempOutput&) = delete;

  // True when the temporary file exists and can be written.
  bool Ok() const { return !path_.empty(); }
  // The temporary file's path.
  const std::string& Path() const { return path_; }
  // What failed, when Ok() or Commit() is false.
  const std::string& Error() const { return error_; }
  // Gives the file the usual permissions and renames it to the final path;
  // false with Error() set, the temporary file then still to be removed.
  bool Commit();

 private:
  std::string final_;
  std::string path_;
  std::string error_;
  bool committed_ = false;
  int slot_ = -1;  // in the signal handler's list
};
