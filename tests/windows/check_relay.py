"""Checks the Win32 calls a Windows DLL makes, as Wine's relay trace shows
them with their arguments and results, against the exact calls expected for
each of the harness's relay cases.

    check_relay.py -- COMMAND...

COMMAND runs the harness in relay mode (run-harness.sh with run-wine.sh
--relay). The harness prints "module START END ROOT" (the DLL's address
range and the fixture root) and, after each case, "ok    NAME" or "FAIL  NAME: ..." on stderr, where
the trace is written too. A call belongs to the DLL when its return address
lies in that range, and to the case whose line follows it. Handles are named
H1, H2, ... in the order CreateFileA returns them, so that each flush and
close is matched with the open it must follow. printf takes varargs and is
not traced; the harness compares stdout itself.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import report, summary

OPEN = 'CreateFileA("{path}",40000000,00000007,00000000,00000003,02000000,00000000)'


def flushed(path, handle):
    return [f"{OPEN.format(path=path)} = {handle}", f"FlushFileBuffers({handle}) = 00000001",
            f"CloseHandle({handle}) = 00000001"]


# Every call the DLL makes, in order, and nothing after the first failure.
EXPECTED = {
    "three directories": flushed("{root}/a", "H1") + flushed("{root}/b", "H2") + flushed("{root}/c", "H3"),
    "flush fails": flushed("{root}/a", "H1") + [
        f'{OPEN.format(path="/proc")} = H2', "FlushFileBuffers(H2) = 00000000", "CloseHandle(H2) = 00000001"],
    "missing in the middle": flushed("{root}/a", "H1") + [
        f'{OPEN.format(path="{root}/missing")} = INVALID_HANDLE_VALUE'],
}

CALL = re.compile(r'^[0-9a-f]+:Call KERNEL32\.(\w+)\((.*)\) ret=([0-9a-f]+)$')
RET = re.compile(r'^[0-9a-f]+:Ret  KERNEL32\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$')
CASE = re.compile(r'^(ok|FAIL) +([^:]+)')
TRACED = re.compile(r'^[0-9a-f]+:(Call|Ret) ')


def calls_by_case(trace, start, end):
    """The DLL's calls as 'Name(arguments) = result' lines, per case."""
    cases, calls, pending, names, opened, loaded = [], [], {}, {}, 0, False
    for line in trace:
        if line.startswith("module "):
            # Printed once the DLL is loaded, so its entry point's calls come before.
            if calls:
                cases.append(("(while loading)", calls))
            loaded, calls = True, []
        elif (m := CALL.match(line)) and start <= int(m[3], 16) < end:
            # A string argument is shown as its address and its text; keep the text.
            arguments = re.sub(r'\b[0-9a-f]+ (".*?")', r"\1", m[2])
            pending[m[3]] = (m[1], arguments.split(","))
        elif (m := RET.match(line)) and m[3] in pending:
            function, arguments = pending.pop(m[3])
            arguments = [names.get(a, a) for a in arguments]
            result = m[2]
            if function == "CreateFileA":
                if int(result, 16) == 2 ** (4 * len(result)) - 1:
                    result = "INVALID_HANDLE_VALUE"
                else:
                    opened += 1
                    names[result] = result = f"H{opened}"
            calls.append(f"{function}({','.join(arguments)}) = {result}")
        elif loaded and (m := CASE.match(line)):
            cases.append((m[2].rstrip(), calls))
            calls, names, opened = [], {}, 0
    if pending or calls:
        cases.append(("(after the last case)", calls + [f"{f}(...) never returned" for f, _ in pending.values()]))
    return cases


def main():
    command = sys.argv[sys.argv.index("--") + 1:]
    run = subprocess.run(command, stderr=subprocess.PIPE, text=True, errors="replace")
    trace = run.stderr.splitlines()
    failed = report("the harness exits with status 0", [] if run.returncode == 0 else [
        f"it exited with status {run.returncode}; its own lines:"] + [
        "  " + line for line in trace if not TRACED.match(line)])
    module = next((line.split(" ", 3) for line in trace if line.startswith("module ")), None)
    if module is None:
        return report("the harness prints the module range", ["no line 'module START END ROOT'"])
    found = calls_by_case(trace, int(module[1], 16), int(module[2], 16))
    if [name for name, _ in found] != list(EXPECTED):
        return report("the cases in the trace", [f"{[name for name, _ in found]}; expected {list(EXPECTED)}"])
    for name, calls in found:
        expected = [call.replace("{root}", module[3]) for call in EXPECTED[name]]
        failed += report(f"{name}: {len(calls)} calls", [] if calls == expected else
                         ["the DLL's Win32 calls differ; expected:"] + ["  " + line for line in expected]
                         + ["traced:"] + ["  " + line for line in calls])
    return summary(len(EXPECTED) + 1, failed)


if __name__ == "__main__":
    sys.exit(main())
