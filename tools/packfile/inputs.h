// The files a build packs, from the paths on its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CInputFile {
  std::string path;   // as found on the host
  std::string name;   // the entry name, Windows-1252
  std::uint64_t size = 0;
};

// Expands `paths` in order: a file stands for itself, a folder for its files
// sorted by name. Returns false with one line per problem in `errors` (a path
// that is missing, a folder inside a folder, neither file nor folder, a name
// that Windows-1252 cannot hold); `files` then holds the rest.
bool CollectInputs(const std::vector<std::string>& paths, std::vector<CInputFile>* files,
                   std::vector<std::string>* errors);
