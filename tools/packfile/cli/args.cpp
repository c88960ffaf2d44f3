#include "tools/packfile/cli/args.h"

#include "tools/packfile/cli/exit_codes.h"

std::string CParsedArgs::Value(const std::string& option, const std::string& fallback) const {
  auto it = values.find(option);
  return it == values.end() ? fallback : it->second;
}

bool ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& flags,
               const std::set<std::string>& valued, CParsedArgs* parsed, std::string* error,
               const std::set<std::string>& repeatable) {
  bool optionsEnded = false;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg.substr(0, arg.find('='));
    bool inlineValue = name.size() != arg.size();
    if (flags.count(name) && !inlineValue) {
      parsed->flags.insert(name);
    } else if (valued.count(name) || repeatable.count(name)) {
      if (parsed->values.count(name)) {
        *error = name + " is given twice";
        return false;
      }
      if (!inlineValue && k + 1 == args.size()) {
        *error = name + " needs a value";
        return false;
      }
      std::string value = inlineValue ? arg.substr(name.size() + 1) : args[++k];
      if (repeatable.count(name)) {
        parsed->lists[name].push_back(value);
      } else {
        parsed->values[name] = value;
      }
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

bool ParseCommandArgs(const std::vector<std::string>& args, const std::set<std::string>& flags,
                      std::size_t operands, const char* expected, const char* help, std::ostream& out,
                      std::ostream& err, CParsedArgs* parsed, int* exitCode) {
  std::string error;
  if (!ParseArgs(args, flags, {}, parsed, &error) ||
      (!parsed->Has("--help") && parsed->operands.size() != operands)) {
    err << "packfile: " << (error.empty() ? expected : error) << "\n" << help;
    *exitCode = kExitUsage;
    return false;
  }
  if (parsed->Has("--help")) {
    out << help;
    *exitCode = kExitOk;
    return false;
  }
  return true;
}
