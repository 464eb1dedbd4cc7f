"""How every Python check reports. A check of named cases prints a line per
case, "ok    NAME" or "FAIL  NAME" with what is wrong indented under it, and a
closing count; a check of one file's facts prints what it found, one fact a
line, and names on stderr each line that differs from what must be."""
import sys


def report(name, problems):
    """Prints the case's line; returns 1 if it failed, else 0."""
    print(f"{'FAIL' if problems else 'ok  '}  {name}")
    for problem in problems:
        print(f"      {problem}")
    return 1 if problems else 0


def summary(total, failed):
    """Prints the count; returns the exit status."""
    print(f"{total - failed} passed, {failed} failed")
    return 1 if failed else 0


def compare(path, facts):
    """facts: (name, expected, found) each. Prints "name: found" a line, and
    on stderr each that differs; returns the exit status."""
    wrong = 0
    for name, _, found in facts:
        print(f"{name}: {found}")
    for name, expected, found in facts:
        if expected != found:
            print(f"{path}: expected '{name}: {expected}', found '{name}: {found}'", file=sys.stderr)
            wrong = 1
    return wrong
