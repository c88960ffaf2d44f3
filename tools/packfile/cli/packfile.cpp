#include "tools/packfile/cli/packfile.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>

#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/json_text.h"

#ifndef PACKFILE_VERSION
#define PACKFILE_VERSION "unknown"
#endif
#ifndef PACKFILE_COMMIT
#define PACKFILE_COMMIT "unknown"
#endif

namespace {

// The one command table: dispatch, `packfile --help` and each command's help
// and options come from it. A blank line in the overview follows the
// commands that make and read installers.
const CCommand* const kCommands[] = {&kBuildCommand,   &kSignCommand,    &kListCommand,
                                     &kVerifyCommand,  &kExtractCommand, &kLogCommand};

const COptionDecl kHelpOption = {"--help", "", "show this help (also -h)", Bind(&CRequest::help)};

std::vector<COptionDecl> Options(const CCommand& command) {
  std::vector<COptionDecl> options = command.options;
  options.push_back(kHelpOption);
  return options;
}

std::string CommandHelp(const CCommand& command) {
  return std::string("usage: packfile ") + command.usage + "\n\n" + command.description + "\n" +
         OptionsHelp(Options(command)) + "\n" + kExitCodesHelp;
}

std::string OverallHelp() {
  std::string text =
      "usage: packfile COMMAND [options] ...\n"
      "\n"
      "Builds UnPackFile installers and reads them back: a launcher image with a package\n"
      "of files appended, optionally signed.\n"
      "\n";
  for (const CCommand* command : kCommands) {
    std::string name = command->name;
    if (command == &kLogCommand) text += "\n";
    text += "  " + name + std::string(9 - std::min<std::size_t>(name.size(), 8), ' ') + command->summary + "\n";
  }
  return text +
         "\n"
         "packfile COMMAND --help (or -h, or packfile help COMMAND) describes each\n"
         "command; packfile --version prints the tool's version and the commit it was\n"
         "built from.\n"
         "\n" +
         kExitCodesHelp;
}

const CCommand* Find(const std::string& name) {
  for (const CCommand* command : kCommands) {
    if (name == command->name) return command;
  }
  return nullptr;
}

int RunCommand(const CCommand& command, const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               CDiagnostics& diagnostics) {
  // -h anywhere before "--" asks for help, as --help does.
  if (std::find(args.begin(), std::find(args.begin(), args.end(), "--"), "-h") != args.end()) {
    out << CommandHelp(command);
    return kExitOk;
  }
  std::unique_ptr<CRequest> request = command.runner.make();
  std::string error;
  bool parsedOk = ParseOptions(args, Options(command), request.get(), &error);
  if (parsedOk && request->help) {
    out << CommandHelp(command);
    return kExitOk;
  }
  const std::vector<std::string>& operands = request->operands;
  std::size_t count = operands.size();
  if (parsedOk && (count < command.minOperands || count > command.maxOperands)) error = command.operands;
  for (const std::string& id : request->allowed) {
    if (!error.empty() || std::find(command.allowIds.begin(), command.allowIds.end(), id) != command.allowIds.end()) {
      continue;
    }
    error = "--allow " + id + " is not an id " + command.name + " accepts:";
    for (const std::string& known : command.allowIds) error += " " + known;
  }
  // Until the request holds together only a lone operand can name the file.
  std::string file = count == 1 ? operands[0] : "";
  if (error.empty()) {
    error = command.runner.check(*request);
    file = request->ReportFile();
  }
  // A --json run still prints its one document, refused or not.
  bool owesDocument = command.jsonSchema != nullptr && request->json;
  if (!error.empty()) {
    if (owesDocument) out << JsonErrorDocument(command.jsonSchema, file, {error});
    return diagnostics.Usage(error, command.name);
  }
  if (!owesDocument) return command.runner.run(*request, CCommandRun{in, out, diagnostics});
  std::ostringstream report;
  int code = command.runner.run(*request, CCommandRun{in, report, diagnostics});
  if (code != kExitOk && report.str().empty()) {
    out << JsonErrorDocument(command.jsonSchema, request->ReportFile(), diagnostics.Errors());
  }
  out << report.str();
  return code;
}

}  // namespace

int PackfileMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in) {
  CDiagnostics diagnostics(err);
  if (args.empty()) {
    err << OverallHelp();
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (const CCommand* command = Find(name)) {
    return RunCommand(*command, std::vector<std::string>(args.begin() + 1, args.end()), in, out, diagnostics);
  }
  if (name == "--version") {
    out << "packfile " PACKFILE_VERSION " (commit " PACKFILE_COMMIT ")\n";
    return kExitOk;
  }
  if (name == "help" && args.size() == 2 && Find(args[1]) != nullptr) {
    out << CommandHelp(*Find(args[1]));
    return kExitOk;
  }
  if (name == "--help" || name == "-h" || (name == "help" && args.size() == 1)) {
    out << OverallHelp();
    return kExitOk;
  }
  return diagnostics.Usage("unknown command " + (name == "help" && args.size() > 1 ? args[1] : name), "");
}
