#!/usr/bin/env python3
"""Runs LoadMain (many threads, or very long arrays) in a real JVM and checks
its exit status and its exact stdout; prints the figures it reports.

  jvm_load.py CLASSES LIBRARY threads THREADS CALLS [--within SECONDS] -- JAVA [JVM OPTIONS...]
  jvm_load.py CLASSES LIBRARY scale PATHS CALLS [--within SECONDS] -- JAVA [JVM OPTIONS...]

In threads mode every third call fails at /proc, so stdout must hold exactly
THREADS * CALLS / 3 flush-failure lines, each whole. In scale mode every call
succeeds and stdout must be empty. Fixture directories live on tmpfs, so the
run measures the library rather than the disk. With --within, the whole JVM
run, start-up included, must take at most SECONDS.
"""
import os
import subprocess
import sys
import tempfile
import time

from messages import flush_failed

FLUSH_FAILED_PROC = flush_failed("/proc")


def main():
    split = sys.argv.index("--")
    classes, library, mode, first, second, *within = sys.argv[1:split]
    limit = float(within[1]) if within[:1] == ["--within"] and len(within) == 2 else None
    if within and limit is None:
        raise SystemExit(f"jvm_load.py: unexpected arguments {within}; expected --within SECONDS")
    java = sys.argv[split + 1:]
    with tempfile.TemporaryDirectory(prefix="nativeflush-load.", dir="/dev/shm") as root:
        for name in "abcd":
            os.mkdir(os.path.join(root, name))
        command = [*java, "-XX:-UsePerfData", "-cp", classes, "org.movrek.filesystem.LoadMain",
                   mode, library, root, first, second]
        started = time.monotonic()
        run = subprocess.run(command, capture_output=True, timeout=600)
        seconds = time.monotonic() - started
    expected = FLUSH_FAILED_PROC * (int(first) * int(second) // 3) if mode == "threads" else ""
    figures = run.stderr.decode(errors="replace").strip()
    print(f"{figures}; JVM run {seconds:.1f} s")
    problems = []
    if limit is not None and seconds > limit:
        problems.append(f"the JVM run took {seconds:.1f} s, expected at most {limit:g} s")
    if run.returncode != 0:
        problems.append(f"exit status {run.returncode}, expected 0 (a wrong result or an fd left open)")
    if run.stdout != expected.encode():
        lines = run.stdout.split(b"\n")
        problems.append(f"stdout: {len(run.stdout)} bytes in {len(lines) - 1} lines, expected "
                        f"{len(expected)} bytes in {expected.count(chr(10))} identical whole lines; "
                        f"distinct lines: {sorted(set(lines))[:5]!r}")
    if "\n" in figures:
        problems.append("stderr holds more than the driver's figures")
    for problem in problems:
        print(f"FAIL  {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
