// packfile's commands. Each takes the arguments after its name, writes its
// report to `out` and its errors (one line each) to `err`, and returns an
// ExitCode.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Builds an installer from a launcher image and files.
int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Signs an installer built earlier.
int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Lists the package as a launcher reads it.
int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Checks every layout rule and what a launcher would extract.
int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Writes the entries a launcher would extract into a folder.
int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Decodes the launcher's unpack.log run by run.
int RunLog(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The whole program: `args` holds everything after the program name.
int PackfileMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
