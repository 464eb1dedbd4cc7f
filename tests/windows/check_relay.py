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
import re
import subprocess
import sys

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
    failed = run.returncode != 0
    if failed:
        print(f"FAIL  the harness exited with status {run.returncode}; its own lines:")
        for line in trace:
            if not TRACED.match(line):
                print("    " + line)
    module = next((line.split(" ", 3) for line in trace if line.startswith("module ")), None)
    if module is None:
        print("FAIL  the harness printed no module range")
        return 1
    found = calls_by_case(trace, int(module[1], 16), int(module[2], 16))
    root = module[3]
    if [name for name, _ in found] != list(EXPECTED):
        print(f"FAIL  cases in the trace: {[name for name, _ in found]}; expected {list(EXPECTED)}")
        return 1
    for name, calls in found:
        expected = [call.replace("{root}", root) for call in EXPECTED[name]]
        if calls == expected:
            print(f"ok    {name}: {len(calls)} calls")
            continue
        failed = True
        print(f"FAIL  {name}: the DLL's Win32 calls differ")
        for label, lines in (("expected", expected), ("traced", calls)):
            print(f"    {label}:")
            for line in lines:
                print(f"      {line}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
