"""How the tests that run child JVMs report: a line per case, the problems
found under it, and a closing count that CTest's log shows last."""


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
