#include "tools/packfile/core/options.h"

#include <algorithm>

namespace {

const COptionDecl* Find(const std::vector<COptionDecl>& decls, const std::string& name) {
  for (const COptionDecl& decl : decls) {
    if (name == decl.name) return &decl;
  }
  return nullptr;
}

std::string Left(const COptionDecl& decl) {
  std::string left = std::string("  ") + decl.name;
  if (decl.target.kind != OptionKind::kFlag) left += std::string(" ") + decl.value;
  return left;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<COptionDecl>& decls, CRequest* request,
                  std::string* error) {
  error->clear();
  auto fail = [&](const std::string& text) {
    if (error->empty()) *error = text;
  };
  std::vector<const COptionDecl*> valuesGiven;
  bool optionsEnded = false;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      request->operands.push_back(arg);
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
      fail("unknown option " + arg);
      continue;
    }
    OptionKind kind = decl->target.kind;
    if (kind == OptionKind::kFlag) {
      if (inlineValue) {
        fail(name + " takes no value");
      } else {
        decl->target.fill(*request, "");
      }
      continue;
    }
    if (kind == OptionKind::kValued && std::count(valuesGiven.begin(), valuesGiven.end(), decl)) {
      fail(name + " is given twice");
      if (!inlineValue) ++k;
      continue;
    }
    if (!inlineValue && k + 1 == args.size()) {
      fail(name + " needs a value (" + decl->value + ")");
      continue;
    }
    std::string value = inlineValue ? arg.substr(name.size() + 1) : args[++k];
    valuesGiven.push_back(decl);
    decl->target.fill(*request, value);
  }
  return error->empty();
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
