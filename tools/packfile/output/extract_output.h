// Where extract writes. The output folder may hold links that someone else
// placed, so nothing in it is ever opened by name: every entry is created
// exclusively in a fresh private folder inside it, and only when all are
// complete are they renamed into place. A rename replaces a name (a link
// included) and never writes through it, and a failure part-way moves
// everything back, so the folder never holds a half-extracted package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CExtractOutput {
 public:
  // Opens `dir`, creating it when missing, and makes the staging folder in
  // it; see Ok(). `force` lets Commit replace what stands at a name.
  CExtractOutput(const std::string& dir, bool force);
  // Removes the staging folder with what it holds, and `dir` when this
  // object created it and nothing was committed.
  ~CExtractOutput();
  CExtractOutput(const CExtractOutput&) = delete;
  CExtractOutput& operator=(const CExtractOutput&) = delete;

  bool Ok() const { return dirFd_ >= 0 && stageFd_ >= 0; }
  const std::string& Error() const { return error_; }

  // True when anything, a dangling link too, stands at `name` in the folder.
  bool Exists(const std::string& name) const;
  // Creates `name` in the staging folder for writing; a file descriptor the
  // caller closes, or -1 with Error() set.
  int Create(const std::string& name);
  // Moves every created file into the folder. Without `force` a name that is
  // taken (by a link too) refuses the whole commit; with it, the old file or
  // link is replaced. False with Error() set and the folder as it was.
  bool Commit();

 private:
  bool MoveIn(const std::string& name, bool* exchanged);
  void MoveBack(std::size_t moved);

  std::string dir_;
  bool force_;
  bool createdDir_ = false;
  int dirFd_ = -1;
  int stageFd_ = -1;
  std::string stageName_;
  std::vector<std::string> created_;
  std::vector<bool> exchanged_;  // per moved file: the old one now sits in staging
  bool committed_ = false;
  std::string error_;
};
