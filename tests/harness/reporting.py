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


def compare(path, expected, actual):
    """Returns the exit status: 0 when every line is as expected."""
    for line in actual:
        print(line)
    wrong = [(e, a) for e, a in zip(expected, actual) if e != a]
    if len(expected) != len(actual):
        wrong.append((f"{len(expected)} lines", f"{len(actual)} lines"))
    for e, a in wrong:
        print(f"{path}: expected '{e}', found '{a}'", file=sys.stderr)
    return 1 if wrong else 0
