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

const COptionDecl* Find(const std::vector<COptionDecl>& decls, const std::string& name) {
  for (const COptionDecl& decl : decls) {
    if (name == decl.name) return &decl;
  }
  return nullptr;
}

std::string Left(const COptionDecl& decl) {
  std::string left = std::string("  ") + decl.name;
  if (decl.kind != OptionKind::kFlag) left += std::string(" ") + decl.value;
  return left;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<COptionDecl>& decls, CParsedArgs* parsed,
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
    const COptionDecl* decl = Find(decls, name);
    if (decl == nullptr) {
      *error = "unknown option " + arg;
      return false;
    }
    if (decl->kind == OptionKind::kFlag) {
      if (inlineValue) {
        *error = name + " takes no value";
        return false;
      }
      parsed->flags.insert(name);
      continue;
    }
    if (decl->kind == OptionKind::kValued && parsed->values.count(name)) {
      *error = name + " is given twice";
      return false;
    }
    if (!inlineValue && k + 1 == args.size()) {
      *error = name + " needs a value (" + decl->value + ")";
      return false;
    }
    std::string value = inlineValue ? arg.substr(name.size() + 1) : args[++k];
    if (decl->kind == OptionKind::kRepeated) {
      parsed->lists[name].push_back(value);
    } else {
      parsed->values[name] = value;
    }
  }
  return true;
}

std::string OptionsHelp(const std::vector<COptionDecl>& decls) {
  std::size_t width = 0;
  for (const COptionDecl& decl : decls) width = std::max(width, Left(decl).size());
  std::string text;
  for (const COptionDecl& decl : decls) {
    std::string left = Left(decl);
    std::string help = decl.help;
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
