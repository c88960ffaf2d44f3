// Running the external tools packfile relies on (osslsigncode) with their
// output captured.
#pragma once

#include <string>
#include <vector>

// The full path of `program` found through PATH; empty when it is not there.
std::string FindInPath(const std::string& program);

// Runs `path` with `args` (args[0] the program name), `input` on its standard
// input and its standard output and error captured together in `output`.
// Returns the exit status, or -1 when it could not run or was killed. The
// program runs in a session of its own, which SIGINT, SIGTERM and SIGHUP
// end with packfile (signal_cleanup.h).
int RunCaptured(const std::string& path, const std::vector<std::string>& args, const std::string& input,
                std::string* output);

// The lines of osslsigncode's output a person can act on: its own messages,
// without OpenSSL's error stack and prompts; the last stack line when it
// printed nothing else.
std::vector<std::string> ToolMessages(const std::string& output);

// The reason OpenSSL's error stack gives for a failed exchange with a
// service: "HTTP 500 Internal Server Error", or the system's words
// ("Connection refused (connect(127.0.0.1, 9))"); empty when it gives none.
std::string StackReason(const std::string& output);
