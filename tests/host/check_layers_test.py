#!/usr/bin/env python3
"""The layering check fails on an include that points up or sideways, naming
the file and the include, and passes one that points down or skips layers."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "cmake", "check-layers.py")

# (file, include, caught)
CASES = [
    ("format/planted.h", "launcher/unpackfile_app.h", True),
    ("tools/packfile/core/planted.cpp", "tools/packfile/cli/packfile.h", True),
    ("tools/packfile/signing/planted.cpp", "tools/packfile/output/temp_output.h", True),
    ("framework/planted.cpp", "diagnostics/log.h", True),
    ("launcher/planted.cpp", "framework/handle.h", False),
    ("tools/packfile/commands/planted.cpp", "pe/pe_layout.h", False),
    ("package/planted.cpp", "package/unpack.h", False),
    ("diagnostics/planted.cpp", "format/log_vocabulary.h", False),
]


def run(root):
    done = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
    return done.returncode, done.stdout


def main():
    failures = []
    for path, include, caught in CASES:
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, os.path.dirname(path)))
            with open(os.path.join(root, path), "w") as planted:
                planted.write(f'#include <stdint.h>\n#include "{include}"\n')
            code, out = run(root)
            named = f'{path}:2:' in out and f'"{include}"' in out
            if (code == 1 and named) != caught or (not caught and code != 0):
                failures.append(f"{path} -> {include}: exit {code}, printed {out!r}")
    for failure in failures:
        print(failure)
    print(f"{len(CASES) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
