#!/usr/bin/env python3
"""The Mach-O linker refuses objects it cannot link correctly, each with its
own message and exit status 1, and writes no dylib. The objects differ from
the deliverable's in one respect each; the deliverable's own pair links.

  linker_refusals.py LINKER OBJECT_DIR EXPORT IMPORT...
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import report, summary

EXPECTED_RELOCATIONS = ("expected a pc-relative extern GENERIC_RELOC_VANILLA call, "
                        "or a scattered GENERIC_RELOC_LOCAL_SECTDIFF + GENERIC_RELOC_PAIR")

# (what, objects, message[, options]); {dir} is the object directory.
# Relocation addresses depend on the compiler's code, so they are compared as
# "0x?". Options come after VERSIONS, so they override them.
VERSIONS = ["--current-version=1.0.0", "--compatibility-version=1.0.0", "--macos-version-min=10.5"]
CASES = [
    ("the deliverable's own objects", ["force_directories.o", "directory_ops.o"], None),
    ("absolute addresses from -mdynamic-no-pic", ["force_directories-no-pic.o", "directory_ops.o"],
     "link_dylib: {dir}/force_directories-no-pic.o: __TEXT,__text relocation at 0x?: absolute "
     "GENERIC_RELOC_VANILLA (section-based, 4 bytes), which would need a text relocation; "
     + EXPECTED_RELOCATIONS),
    ("unwind tables", ["force_directories.o", "directory_ops-unwind.o"],
     "link_dylib: {dir}/directory_ops-unwind.o: unexpected section __TEXT,__eh_frame; expected only "
     "__TEXT,__text, __TEXT,__cstring and __TEXT,__const (compile without unwind tables and debug info)"),
    ("an undefined symbol that is not an allowed import", ["force_directories.o"],
     "link_dylib: {dir}/force_directories.o: undefined symbol __Z14open_directoryPKcPi is neither defined "
     "by an object nor an allowed import; expected one of _close, _fsync, _open$UNIX2003, _printf"),
    ("a version that LC_ID_DYLIB cannot hold", ["force_directories.o", "directory_ops.o"],
     "link_dylib: --current-version: version '1.256'; expected X[.Y[.Z]] with X at most 65535, "
     "Y and Z at most 255", ["--current-version=1.256"]),
]


def main():
    linker, directory, export, *imports = sys.argv[1:]
    failed = 0
    for what, objects, message, *options in CASES:
        with tempfile.TemporaryDirectory() as out:
            output = os.path.join(out, "lib.dylib")
            run = subprocess.run([sys.executable, linker, f"--export={export}",
                                  *[f"--import={name}" for name in imports], *VERSIONS, *sum(options, []),
                                  "-o", output,
                                  *[os.path.join(directory, o) for o in objects]],
                                 capture_output=True, text=True)
            found = (run.returncode, re.sub(r" at 0x[0-9a-f]+:", " at 0x?:", run.stderr.rstrip("\n")),
                     os.path.exists(output))
        expected = (0, "", True) if message is None else (1, message.format(dir=directory), False)
        failed += report(what, [] if found == expected else [
            f"expected: exit {expected[0]}, dylib written {expected[2]}, stderr {expected[1]!r}",
            f"found:    exit {found[0]}, dylib written {found[2]}, stderr {found[1]!r}"])
    return summary(len(CASES), failed)


if __name__ == "__main__":
    sys.exit(main())
