"""What the ABI checks share: reading "Key: value" lines from a tool's
output, and the one way they report, which prints what was found, one fact
per line, then names each line that differs from what must be."""
import sys


def field(lines, name, tool):
    """The value of the first line whose key is name."""
    for line in lines:
        key, _, value = line.partition(":")
        if key.strip() == name:
            return value.strip()
    raise SystemExit(f"{tool} printed no '{name}' field")


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
