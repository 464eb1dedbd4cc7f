#!/usr/bin/env python3
"""Runs forceDirectories inside a real JVM, one child JVM per case, and
compares each child's exit status (the boolean result) and its exact stdout
bytes (the library's lines), and requires an empty stderr.

  jvm_cases.py CLASSES LIBRARY SETPRIV UID -- JAVA [JVM OPTIONS...]

JAVA may be a launcher followed by the java program (qemu-i386 -L / java).
Fixtures, classes and library are copied under a fresh directory in /tmp
that an unprivileged user can read, because the permission case runs the
child as user UID: root would open anything.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from verdict import report, summary

TRUE, FALSE = 0, 3  # ForceDirectoriesMain's exit statuses: 3 + index of the first call that returned false
MAIN = "org.movrek.filesystem.ForceDirectoriesMain"
NON_BMP = "\U0001F600"  # outside the Basic Multilingual Plane


def not_found(path):
    return b"Movrek Error [Native Module] Directory " + as_bytes(path) + b" does not exist.\n"


def flush_failed(path):
    return b"Movrek Error [Native Module] Directory flush failed for " + as_bytes(path) + b".\n"


def as_bytes(path):
    return path if isinstance(path, bytes) else path.encode()


def utf8(path):
    """An argument that reaches the driver intact whatever the locale."""
    return "--utf8-hex=" + path.encode().hex()


def cases(root):
    """(name, JVM options, driver arguments, expected status, expected stdout, unprivileged)"""
    a, b, c = f"{root}/a", f"{root}/b", f"{root}/c"
    # The JVM hands out modified UTF-8, where a character beyond the BMP is a
    # surrogate pair of three bytes each, not the four bytes on disk.
    non_bmp_modified_utf8 = f"{root}/".encode() + b"\xed\xa0\xbd\xed\xb8\x80"
    return [
        ("empty array", [], [], TRUE, b"", False),
        ("several directories", [], [a, b, c], TRUE, b"", False),
        ("missing in the middle", [], [a, f"{root}/missing", c], FALSE, not_found(f"{root}/missing"), False),
        ("empty path", [], ["", a], FALSE, not_found(""), False),
        ("flush fails under /proc", [], [a, "/proc", c], FALSE, flush_failed("/proc"), False),
        ("directory the user may not read", [], [a, f"{root}/locked", c], FALSE,
         not_found(f"{root}/locked"), True),
        ("readable directories as that user", [], [a, b], TRUE, b"", True),
        ("regular file and symlink to a directory", [], [f"{root}/file", f"{root}/link"], TRUE, b"", False),
        ("relative path", [], ["b", "no-such-dir"], FALSE, not_found("no-such-dir"), False),
        ("checked JNI, success", ["-Xcheck:jni"], [a, b, c], TRUE, b"", False),
        ("checked JNI, failure", ["-Xcheck:jni"], [a, f"{root}/missing"], FALSE,
         not_found(f"{root}/missing"), False),
        # Hostile and odd input.
        ("null array", [], ["--null-array"], FALSE, b"", False),
        ("null element first", [], ["--null", b, c], FALSE, b"", False),
        ("null element in the middle", [], [a, "--null", c], FALSE, b"", False),
        ("null element last", [], [a, b, "--null"], FALSE, b"", False),
        ("format directives", [], [f"{root}/%s%n%p"], FALSE, not_found(f"{root}/%s%n%p"), False),
        ("newline in path", [], [utf8(f"{root}/line\nbreak")], FALSE, not_found(f"{root}/line\nbreak"), False),
        ("64 KiB path", [], [f"--long=65536={root}/"], FALSE, not_found(f"{root}/" + "x" * 65536), False),
        ("1 MiB path", [], [f"--long=1048576={root}/"], FALSE, not_found(f"{root}/" + "x" * 1048576), False),
        ("existing name beyond the BMP", [], [utf8(f"{root}/{NON_BMP}")], FALSE,
         not_found(non_bmp_modified_utf8), False),
        ("dangling symlink", [], [f"{root}/dangling"], FALSE, not_found(f"{root}/dangling"), False),
        ("directory removed between two calls", [], [f"{root}/gone", f"--then-remove={root}/gone", f"{root}/gone"],
         FALSE + 1, not_found(f"{root}/gone"), False),
    ]


def make_fixture(root, classes, library):
    for name in ("a", "b", "c", "gone", "locked", NON_BMP):
        os.mkdir(os.path.join(root, name))
    os.chmod(os.path.join(root, "locked"), 0o000)
    with open(os.path.join(root, "file"), "w"):
        pass
    os.symlink(os.path.join(root, "a"), os.path.join(root, "link"))
    os.symlink(os.path.join(root, "nowhere"), os.path.join(root, "dangling"))
    shutil.copytree(classes, os.path.join(root, "classes"))
    shutil.copy(library, os.path.join(root, os.path.basename(library)))
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            if not os.path.islink(path) and name != "locked":
                os.chmod(path, 0o755 if os.path.isdir(path) else 0o644)
    os.chmod(root, 0o755)


def shorten(data):
    return repr(data) if len(data) < 300 else f"{data[:150]!r}...{data[-100:]!r} ({len(data)} bytes)"


def main():
    split = sys.argv.index("--")
    classes, library, setpriv, uid = sys.argv[1:split]
    java = sys.argv[split + 1:]
    failed = 0
    with tempfile.TemporaryDirectory(prefix="nativeflush-jvm.") as root:
        make_fixture(root, classes, library)
        library_copy = os.path.join(root, os.path.basename(library))
        for name, options, paths, status, stdout, unprivileged in cases(root):
            command = [*java, "-XX:-UsePerfData", *options, "-cp", f"{root}/classes", MAIN, library_copy, *paths]
            if unprivileged:
                command = [setpriv, f"--reuid={uid}", f"--regid={uid}", "--clear-groups", *command]
            run = subprocess.run(command, cwd=root, capture_output=True, timeout=120)
            problems = []
            if run.returncode != status:
                problems.append(f"exit status {run.returncode}, expected {status}")
            if run.stdout != stdout:
                problems.append(f"stdout {shorten(run.stdout)}, expected {shorten(stdout)}")
            if run.stderr:
                problems.append(f"stderr {run.stderr.decode(errors='replace')!r}")
            failed += report(name, problems)
    return summary(len(cases("")), failed)


if __name__ == "__main__":
    sys.exit(main())
