// The few pieces of JSON that packfile writes: its schemas are flat enough
// that a writer of strings and numbers is all it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `text` (UTF-8) as a JSON string literal, quotes included; a line break
// becomes \n, other control characters \u00XX, so a name cannot break the
// document.
std::string JsonString(const std::string& text);

// JsonString(text), or null when `text` is empty (a fact not known).
std::string JsonStringOrNull(const std::string& text);

// `seconds` since 1970 as ISO 8601 UTC, e.g. "2024-01-31T12:00:00Z": how
// packfile shows a time, in JSON and in text.
std::string IsoUtcTime(std::int64_t seconds);

// The document a --json run prints when it failed before its report:
// {"schema":SCHEMA,"file":FILE,"error":"the errors, one per line"}.
std::string JsonErrorDocument(const std::string& schema, const std::string& file,
                              const std::vector<std::string>& errors);
