// Command-line options, declared once per command: the parser, the usage
// text and the commands' requests all come from the same declarations. Each
// declaration names the field of the request it fills, so that a command
// reads its options as fields and never by their spelling.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class OptionKind {
  kFlag,      // --replace
  kValued,    // --out FILE, at most once
  kRepeated,  // --exclude GLOB, any number of times
};

// What every command's request holds: the operands, and the options the
// command line itself acts on (help, the --json refusal, the --allow ids).
struct CRequest {
  virtual ~CRequest() = default;
  // The file a --json document names once the request holds together.
  virtual std::string ReportFile() const { return operands.empty() ? "" : operands[0]; }
  std::vector<std::string> operands;  // everything not an option, in order
  bool help = false;
  bool json = false;
  std::vector<std::string> allowed;  // --allow ids, in the order given
};

// Where an option lands: its kind follows from the field's type (bool: a
// flag; std::string or std::optional<std::string>: a valued option;
// std::vector<std::string>: a repeated one).
struct COptionTarget {
  OptionKind kind;
  std::function<void(CRequest& request, const std::string& value)> fill;
};

namespace option_fill {
inline void Fill(bool& field, const std::string&) { field = true; }
inline void Fill(std::string& field, const std::string& value) { field = value; }
inline void Fill(std::optional<std::string>& field, const std::string& value) { field = value; }
inline void Fill(std::vector<std::string>& field, const std::string& value) { field.push_back(value); }
constexpr OptionKind Kind(const bool*) { return OptionKind::kFlag; }
constexpr OptionKind Kind(const std::string*) { return OptionKind::kValued; }
constexpr OptionKind Kind(const std::optional<std::string>*) { return OptionKind::kValued; }
constexpr OptionKind Kind(const std::vector<std::string>*) { return OptionKind::kRepeated; }
}  // namespace option_fill

// Binds an option to `field` of the request `Request`. A request of another
// type is a mistake in a command's table and fails loudly (std::bad_cast).
template <class Request, class Field>
COptionTarget Bind(Field Request::*field) {
  return {option_fill::Kind(static_cast<const Field*>(nullptr)), [field](CRequest& request, const std::string& value) {
            option_fill::Fill(dynamic_cast<Request&>(request).*field, value);
          }};
}

// Binds an option to `field` of the struct `member` of the request.
template <class Request, class Struct, class Field>
COptionTarget Bind(Struct Request::*member, Field Struct::*field) {
  return {option_fill::Kind(static_cast<const Field*>(nullptr)),
          [member, field](CRequest& request, const std::string& value) {
            option_fill::Fill(dynamic_cast<Request&>(request).*member.*field, value);
          }};
}

struct COptionDecl {
  const char* name;   // "--out"
  const char* value;  // what the value is, e.g. "FILE"; empty for a flag
  const char* help;   // one or more lines ('\n' between them)
  COptionTarget target;
};

// Parses `args` ("--name value", "--name=value", "--" ends options) by
// `decls` into `request`. False with `error` naming the argument for an
// unknown option, a missing value, a value given to a flag, or a valued
// option given twice; the first error is kept and the rest still read, so
// that a refused run knows whether it owes a --json document.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<COptionDecl>& decls, CRequest* request,
                  std::string* error);

// The option lines of a usage text: "  --out FILE   the installer to write",
// help columns aligned, continuation lines indented under the first.
std::string OptionsHelp(const std::vector<COptionDecl>& decls);
