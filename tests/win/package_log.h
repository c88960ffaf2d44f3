// The messages of the machine-wide log, for matching the extractor's lines.
#pragma once

#include <string>
#include <vector>

// The message part of each log line (between the timestamp and "  Err:").
std::vector<std::wstring> LogMessages();
