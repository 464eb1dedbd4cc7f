#!/usr/bin/env python3
"""Traces every system call of a child JVM that calls forceDirectories once,
and compares, line by line, the calls that touch the fixture tree (or /proc)
with the ones the method must make: one open, one fsync and one close per
path, in array order, stopping at the first failure, and nothing else on any
of them or on the paths after the failure.
Also compares every write to stdout and stderr: the driver marks the return
of the call on stderr, and the library's line must reach stdout only after
it, when the C stdout buffer is written out at exit.

  jvm_syscalls.py STRACE CLASSES LIBRARY -- JAVA [JVM OPTIONS...]
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from messages import flush_failed, not_found
from reporting import report, summary

MAIN = "org.movrek.filesystem.MarkedForceDirectoriesMain"
TRUE, FALSE = 0, 3  # the driver's exit statuses
PROC = "/proc"      # a directory that opens but cannot be flushed

LINE = re.compile(r"^(\d+) +(.*)$")
UNFINISHED = " <unfinished ...>"
RESUMED = re.compile(r"^<\.\.\. \w+ resumed>(.*)$")
OUTPUT_WRITE = re.compile(r"^(write|writev|pwrite64|pwritev2?)\([12]<")
ANNOTATED_FD = re.compile(r"\b(\d+|AT_FDCWD)<([^<>]*)>")


def opened(path):
    return [f'openat(AT_FDCWD, "{path}", O_RDONLY) = {{fd}}<{path}>',
            f"fsync({{fd}}<{path}>) = 0",
            f"close({{fd}}<{path}>) = 0"]


def open_fails(path):
    return [f'openat(AT_FDCWD, "{path}", O_RDONLY) = -1 ENOENT (No such file or directory)']


def flush_fails(path):
    return [f'openat(AT_FDCWD, "{path}", O_RDONLY) = {{fd}}<{path}>',
            f"fsync({{fd}}<{path}>) = -1 EINVAL (Invalid argument)",
            f"close({{fd}}<{path}>) = 0"]


def marker(result):
    text = f"returned {'true' if result == TRUE else 'false'}\\n"
    return f'write(2, "{text}", {len(text) - 1}) = {len(text) - 1}'


def stdout_line(text):
    escaped = text.replace("\n", "\\n")
    return f'write(1, "{escaped}", {len(text)}) = {len(text)}'


def cases(root):
    """(name, paths, expected status, expected trace)"""
    d = [f"{root}/d{i}" for i in range(8)]
    missing = f"{root}/missing"
    return [
        ("eight directories", d,
         TRUE, [line for p in d for line in opened(p)] + [marker(TRUE)]),
        ("open fails at element 2 of 5", [d[0], d[1], missing, d[3], d[4]],
         FALSE, opened(d[0]) + opened(d[1]) + open_fails(missing) + [marker(FALSE)]
         + [stdout_line(not_found(missing))]),
        ("flush fails at element 1 of 3", [d[0], PROC, d[2]],
         FALSE, opened(d[0]) + flush_fails(PROC) + [marker(FALSE)]
         + [stdout_line(flush_failed(PROC))]),
    ]


def calls(trace_file):
    """The completed system calls of a strace -f log, in the order they
    started, without the pid; an interrupted call is joined with its rest."""
    result, pending = [], {}
    with open(trace_file, encoding="utf-8", errors="replace") as f:
        for raw in f:
            m = LINE.match(raw.rstrip("\n"))
            if not m:
                continue
            pid, text = m.groups()
            resumed = RESUMED.match(text)
            if resumed and pid in pending:
                slot = pending.pop(pid)
                result[slot] += resumed.group(1)
            elif text.endswith(UNFINISHED):
                pending[pid] = len(result)
                result.append(text[:-len(UNFINISHED)])
            else:
                result.append(text)
    return result


def relevant(call_lines, root):
    """The calls that name the fixture root, anything under it or /proc, as a
    path or as an fd open on one, plus every write to stdout or stderr; the
    numbers of fds open on those paths become {fd}."""
    watched = re.compile(f"^(?:{re.escape(root)}(?:/.*)?|{PROC})$")
    mentioned = re.compile(f"[\"<](?:{re.escape(root)}[/\">]|{PROC}[\">])")

    def fd(m):
        return f"{{fd}}<{m.group(2)}>" if watched.match(m.group(2)) else m.group(1)

    out = []
    for text in call_lines:
        if text.startswith("execve("):
            continue  # the JVM's own command line, which holds the paths
        if mentioned.search(text) or OUTPUT_WRITE.match(text):
            out.append(re.sub(r"\)\s+= ", ") = ", ANNOTATED_FD.sub(fd, text)))
    return out


def main():
    split = sys.argv.index("--")
    strace, classes, library = (os.path.abspath(a) for a in sys.argv[1:split])
    java = sys.argv[split + 1:]
    failed = 0
    with tempfile.TemporaryDirectory(prefix="nativeflush-syscalls.") as work:
        # The fixture directories live apart from everything else the JVM
        # opens, so a path under the root is touched by the library or by no one.
        root = os.path.realpath(os.path.join(work, "root"))
        os.mkdir(root)
        for i in range(8):
            os.mkdir(f"{root}/d{i}")
        for name, paths, status, expected in cases(root):
            trace = os.path.join(work, "trace")
            command = [strace, "-f", "-qq", "-e", "signal=none", "-y", "-s", "4096", "-o", trace,
                       *java, "-XX:-UsePerfData", "-cp", classes, MAIN, library, *paths]
            run = subprocess.run(command, cwd=work, capture_output=True, timeout=120)
            found = relevant(calls(trace), root)
            problems = []
            if run.returncode != status:
                problems.append(f"exit status {run.returncode}, expected {status}; "
                                f"stderr {run.stderr.decode(errors='replace')!r}")
            if found != expected:
                problems.append("system calls on the paths and writes to stdout/stderr differ:")
                problems += [f"  expected {line}" for line in expected]
                problems += [f"  traced   {line}" for line in found]
            failed += report(name, problems)
    return summary(len(cases("")), failed)


if __name__ == "__main__":
    sys.exit(main())
