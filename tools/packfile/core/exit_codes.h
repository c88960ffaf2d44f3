// packfile's exit codes, the same for every command; numbers are never
// reused for another meaning. A CI gate tells a bad artefact (1) from a job
// that could not check it (3).
#pragma once

enum ExitCode {
  kExitOk = 0,
  kExitBad = 1,         // the artefact or the inputs are bad: a check refused them, verify found a fault
  kExitUsage = 2,       // the command line itself is wrong
  kExitCannotCheck = 3, // could not do or check it: a file missing or unreadable, a tool missing, a write failed
};

// The exit codes as the help texts and the README show them.
constexpr char kExitCodesHelp[] =
    "Exit codes, the same for every command:\n"
    "  0  done; for verify: nothing failed\n"
    "  1  the artefact or the inputs are bad: a check refused them, verify found a\n"
    "     fault, the file is not a consistent installer, the signer refused\n"
    "  2  the command line itself is wrong\n"
    "  3  could not do or check it: an input or --ca file missing or unreadable,\n"
    "     osslsigncode missing, an output that cannot be written\n";
