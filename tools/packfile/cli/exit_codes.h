// packfile's exit codes; numbers are never reused for another meaning.
#pragma once

enum ExitCode {
  kExitOk = 0,
  kExitFailed = 1,  // a check refused the inputs, or verify found a fault
  kExitUsage = 2,   // the command line itself is wrong
};
