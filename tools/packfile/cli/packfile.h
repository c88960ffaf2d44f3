// The whole program behind main(): the command table and dispatch.
#pragma once

#include <iostream>
#include <string>
#include <vector>

// Runs packfile; `args` holds everything after the program name. Reports go
// to `out`, diagnostics to `err`, `in` is standard input (--files-from -).
// Returns the exit code (core/exit_codes.h).
int PackfileMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 std::istream& in = std::cin);
