// The few pieces of JSON that packfile writes: its schemas are flat enough
// that a writer of strings and numbers is all it needs.
#pragma once

#include <string>
#include <vector>

// `text` (UTF-8) as a JSON string literal, quotes included; control
// characters become \u00XX, so a name cannot break the document.
std::string JsonString(const std::string& text);

// The document a --json run prints when it failed before its report:
// {"schema":SCHEMA,"file":FILE,"error":"the errors, one per line"}.
std::string JsonErrorDocument(const std::string& schema, const std::string& file,
                              const std::vector<std::string>& errors);
