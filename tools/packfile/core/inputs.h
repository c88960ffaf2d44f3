// The files a build packs, from the paths on its command line and in file lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "tools/packfile/core/message_sink.h"

struct CInputFile {
  std::string path;   // as found on the host
  std::string name;   // the entry name, Windows-1252
  std::uint64_t size = 0;
};

// Reads a named input (a key, a certificate, a password file), up to
// `limit` bytes. False with the system's `reason` when it cannot be opened;
// what opens but cannot be read (a folder) reads as empty.
bool ReadInput(const std::string& path, std::string* bytes, std::string* reason, std::size_t limit = SIZE_MAX);

// Appends the items of a file list (`source` is a path, or "-" for `stdinStream`):
// one PATH or NAME=PATH per line, CR LF or LF, empty lines skipped. False
// with `error` when the list cannot be read.
bool ReadFileList(const std::string& source, std::istream& stdinStream, std::vector<std::string>* items,
                  std::string* error);

// True when `name` matches the shell pattern `glob` as --exclude reads it:
// * any run, ? one character, [abc] [a-z] [!a] a set, \x the character x.
bool MatchesGlob(const std::string& glob, const std::string& name);

// The id of the warning about a link leading out of the folders given, for --allow.
constexpr char kAllowOutsideLink[] = "outside-link";

struct CCollectedInputs {
  std::vector<CInputFile> files;
  std::vector<CWarning> warnings;    // e.g. a link leading out of the folders given
  std::size_t excluded = 0;          // files left out by an exclusion
  std::vector<std::string> folders;  // the folders named as items
};

// Expands `items` in order: a file stands for itself, a folder for its files
// sorted by name, NAME=PATH for the file PATH stored as NAME (an item that
// exists as a path is always a path). Files whose entry name matches one of
// `excludes` (shell globs) are left out and counted. A symbolic link is
// packed as the file it leads to; one leading out of every folder given gets
// warning outside-link. Returns false after reporting each problem (a path
// that is missing or cannot be opened for reading: kCannotCheck; a folder
// inside a folder, neither file nor folder, a link that leads nowhere, a
// name that Windows-1252 cannot hold: kBad); `inputs` then holds the rest.
bool CollectInputs(const std::vector<std::string>& items, const std::vector<std::string>& excludes,
                   CCollectedInputs* inputs, CDiagnostics& diagnostics);
