#include "tools/packfile/core/options.h"

#include <algorithm>

std::string CParsedArgs::Value(const std::string& option, const std::string& fallback) const {
  auto it = values.find(option);
  return it == values.end() ? fallback : it->second;
}

std::vector<std::string> CParsedArgs::List(const std::string& option) const {
  auto it = lists.find(option);
  return it == lists.end() ? std::vector<std::string>() : it->second;
}

namespace {

const COptionSpec* Find(const std::vector<COptionSpec>& specs, const std::string& name) {
  for (const COptionSpec& spec : specs) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

std::string Left(const COptionSpec& spec) {
  std::string left = std::string("  ") + spec.name;
  if (spec.kind != OptionKind::kFlag) left += std::string(" ") + spec.value;
  return left;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<COptionSpec>& specs, CParsedArgs* parsed,
                  std::string* error) {
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
    const COptionSpec* spec = Find(specs, name);
    if (spec == nullptr) {
      *error = "unknown option " + arg;
      return false;
    }
    if (spec->kind == OptionKind::kFlag) {
      if (inlineValue) {
        *error = name + " takes no value";
        return false;
      }
      parsed->flags.insert(name);
      continue;
    }
    if (spec->kind == OptionKind::kValued && parsed->values.count(name)) {
      *error = name + " is given twice";
      return false;
    }
    if (!inlineValue && k + 1 == args.size()) {
      *error = name + " needs a value (" + spec->value + ")";
      return false;
    }
    std::string value = inlineValue ? arg.substr(name.size() + 1) : args[++k];
    if (spec->kind == OptionKind::kRepeated) {
      parsed->lists[name].push_back(value);
    } else {
      parsed->values[name] = value;
    }
  }
  return true;
}

std::string OptionsHelp(const std::vector<COptionSpec>& specs) {
  std::size_t width = 0;
  for (const COptionSpec& spec : specs) width = std::max(width, Left(spec).size());
  std::string text;
  for (const COptionSpec& spec : specs) {
    std::string left = Left(spec);
    std::string help = spec.help;
    std::string indent(width + 2, ' ');
    text += left + std::string(width + 2 - left.size(), ' ');
    for (std::size_t start = 0;;) {
      std::size_t end = help.find('\n', start);
      text += help.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
      if (end == std::string::npos) break;
      text += indent;
      start = end + 1;
    }
  }
  return text;
}
