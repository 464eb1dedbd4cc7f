#!/usr/bin/env python3
"""The crash experiment: what forceDirectories keeps after a power cut.

    durability.py [--no-flush] [--trials N] [--fs FS,...] WORKDIR
    durability.py --faults [--ignore-errors] [--fs FS,...] WORKDIR

For each file system, boots Debian 12's kernel in an emulated machine whose
scratch disk logs every write and flush (QEMU's blklogwrites, in the
dm-log-writes format) and runs bench/CrashWorkload.java in the host's JVM
there. Then, on the host, rebuilds the disk as a power cut would have left
it at each flush (every logged write before it: prefix states only), mounts
it (recovery runs at mount), reads the trials' files, and gives the file
system's own checker a second opinion. Prints one table; exits 1 when a
name was lost after the call returned true. --no-flush runs a stand-in
library that returns true and flushes nothing, so that failure is seen.

--faults makes the disk fail under the mounted file system instead, in the
same guest, with device-mapper there (CrashWorkload's faults mode says
how), and replays the log to a power cut after each step. Prints the
library's answers and lines beside the kernel's own; exits 1 when the first
call under the fault is not false with the flush-failed line, or a call
said true where the kernel's fsync failed. --ignore-errors runs a stand-in
built from the library's sources that drops fsync's failures, so that
failure is seen.

Programs and paths come from the environment (bench/CMakeLists.txt writes
durability.env; scripts/durability.sh runs this).
"""
import argparse
import collections
import os
import re
import shutil
import struct
import subprocess
import sys
import time

FILE_SYSTEMS = ("ext4", "xfs", "btrfs")
WORKLOADS = ("rename", "rename+call", "create", "create+call", "unsynced", "unsynced+call")
MIB = 1 << 20
FS_BYTES = 320 * MIB  # mkfs.xfs refuses less than 300 MiB
MARK_OFFSET = FS_BYTES  # the workload's marks go beyond the file system
DISK_BYTES = FS_BYTES + MIB
CONTENT_BYTES = 4096  # as CrashWorkload.CONTENT_BYTES
MODULES = ("virtio_pci", "virtio_blk", "9pnet_virtio", "9p", "crc32c_generic", "ext4", "xfs", "btrfs", "dm_mod")
# A disk this small would get ext4's 1 KiB blocks, which no real disk has.
MKFS_OPTIONS = {"ext4": ["-q", "-F", "-T", "default"], "xfs": ["-q", "-f"], "btrfs": ["-q", "-f"]}
FSCK_OPTIONS = {"ext4": ["-fn"], "xfs": ["-n", "-f"], "btrfs": ["check"]}
# dm-log-writes: a super block in the first sector, then per entry a header
# sector followed by its data, except for flushes and discards.
LOG_MAGIC, LOG_FLUSH, LOG_DISCARD, SECTOR = 0x6A736677736872, 1, 4, 512
# How a trial's file is found in a crash state, worst first.
KINDS = ("unmountable", "unreadable", "missing", "partial", "empty", "whole")


def fail(message):
    sys.exit(f"durability: {message}")


def tool(name):
    path = os.environ.get(name)
    if not path or not os.path.exists(path):
        fail(f"{name}={path} is missing; scripts/durability.sh installs and builds what it needs")
    return path


def run(*command, **options):
    return subprocess.run(command, check=True, **options)


def make_initramfs(work, kernel):
    """The guest's initramfs: busybox, the init script, MODULES with what they depend on."""
    release, = os.listdir(f"{kernel}/lib/modules")
    tree = f"{kernel}/lib/modules/{release}"
    found = {f[:-3].replace("-", "_"): os.path.join(d, f) for d, _, fs in os.walk(tree) for f in fs if f.endswith(".ko")}
    builtin = open(f"{tree}/modules.builtin").read().replace("-", "_")
    order = []

    # The host has no depmod: each module's dependencies are in its .modinfo.
    def add(name):
        if name in order or f"/{name}.ko" in builtin:
            return
        if name not in found:
            fail(f"no module {name} in {tree}")
        depends = re.search(rb"\0depends=([^\0]*)\0", open(found[name], "rb").read())
        for dependency in depends.group(1).decode().split(",") if depends else ():
            if dependency:
                add(dependency)
        order.append(name)

    for name in MODULES:
        add(name)
    root = f"{work}/initramfs"
    shutil.rmtree(root, ignore_errors=True)
    for d in ("bin", "lib", "proc", "dev", "host"):
        os.makedirs(f"{root}/{d}")
    shutil.copy(tool("DURABILITY_BUSYBOX"), f"{root}/bin/busybox")
    shutil.copy(tool("DURABILITY_INIT"), f"{root}/init")
    for name in order:
        shutil.copy(found[name], f"{root}/lib/{name}.ko")
    with open(f"{root}/modules", "w") as f:
        f.write("\n".join(order) + "\n")
    files = "\n".join(os.path.relpath(os.path.join(d, n), root) for d, ds, fs in os.walk(root) for n in ds + fs)
    with open(f"{work}/initramfs.cpio", "wb") as out:
        run(tool("DURABILITY_CPIO"), "--quiet", "-o", "-H", "newc", cwd=root, input=files.encode(), stdout=out)
    return release, f"{work}/initramfs.cpio", f"{kernel}/boot/vmlinuz-{release}"


def make_disk(work, label, fs):
    """A fresh FS file system in a disk image with room for the marks after it."""
    base = f"{work}/{label}.base"
    with open(base, "wb") as f:
        f.truncate(FS_BYTES)
    run(tool(f"DURABILITY_MKFS_{fs.upper()}"), *MKFS_OPTIONS[fs], base, stdout=subprocess.DEVNULL)
    with open(base, "r+b") as f:
        f.truncate(DISK_BYTES)
    return base


def run_guest(work, label, bases, initramfs, vmlinuz, guest):
    """Boots the guest with GUEST as its init's arguments and a copy of each of BASES as a disk, the
    first of them logged; returns the log and the console's lines."""
    log = f"{work}/{label}.log"
    open(log, "wb").close()
    # KVM does not work here (nested); -cpu max gives the JVM every instruction it may probe.
    command = [tool("DURABILITY_QEMU"), "-accel", "tcg", "-cpu", "max", "-m", "1024",
               "-nodefaults", "-no-reboot", "-display", "none", "-serial", "stdio",
               "-kernel", vmlinuz, "-initrd", initramfs,
               "-append", "console=ttyS0 quiet panic=-1 -- " + " ".join(guest),
               # Without multidevs=remap, files of other host devices clash by inode number
               # and the JVM does not find its own libjli.so.
               "-fsdev", "local,id=host,path=/,security_model=none,readonly=on,multidevs=remap",
               "-device", "virtio-9p-pci,fsdev=host,mount_tag=host"]
    for n, base in enumerate(bases):
        disk = f"{work}/{label}.{n}.img"
        run("cp", "--sparse=always", base, disk)
        command += ["-blockdev", f"driver=file,node-name=disk{n},filename={disk}"]
        if n == 0:
            command += ["-blockdev", f"driver=file,node-name=log,filename={log}",
                        "-blockdev", "driver=blklogwrites,node-name=logged,file=disk0,log=log,log-sector-size=512"]
        command += ["-device", f"virtio-blk-pci,drive={'logged' if n == 0 else f'disk{n}'},discard=off,write-zeroes=off"]
    console = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=1800).stdout.decode(errors="replace")
    with open(f"{work}/{label}.console", "w") as f:
        f.write(console)
    lines = console.splitlines()
    unseen = [line for line in lines if line.startswith("guest: cannot see")]
    if unseen:
        fail(f"{unseen[0][len('guest: '):]} (it sees the host's / read-only, with its own /proc and "
             f"/dev and an empty {guest[0]}; console: {work}/{label}.console)")
    if "workload: done" not in console:
        end = [line for line in lines if not line.startswith("kernel: ")][-15:]
        fail(f"the {label} guest did not finish its workload; its console, {work}/{label}.console, ends:\n"
             + "\n".join(end))
    return log, lines


def java(classes, *arguments):
    # The host's /tmp is read-only in the guest: no performance data file.
    return [tool("DURABILITY_JAVA"), "-XX:+UseSerialGC", "-XX:TieredStopAtLevel=1", "-XX:-UsePerfData",
            "-cp", classes, "CrashWorkload", *arguments]


def read_log(path):
    """The log's entries: (first sector, sectors, flags, offset of the data in the log)."""
    entries = []
    with open(path, "rb") as log:
        magic, _, count, sector_size = struct.unpack("<QQQI", log.read(28))
        if magic != LOG_MAGIC or sector_size != SECTOR:
            fail(f"{path} is not a write log of {SECTOR}-byte sectors")
        offset = SECTOR
        for _ in range(count):
            log.seek(offset)
            first, sectors, flags, _ = struct.unpack("<QQQQ", log.read(32))
            if flags & LOG_DISCARD:
                fail(f"{path} holds a discard, which the disk does not offer")
            offset += SECTOR
            entries.append((first, sectors, flags, offset))
            offset += sectors * SECTOR
    return entries


def expected(name):
    return (f"nativeflush {name}\n".encode() * CONTENT_BYTES)[:CONTENT_BYTES]


def find(mounted, name):
    try:
        with open(os.path.join(mounted, name), "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return "missing"
    except OSError:
        return "unreadable"
    return "whole" if data == expected(name) else "empty" if not data else "partial"


def replay(work, fs, base, log_path, entries, wanted):
    """Yields, per crash state of WANTED (state -> names) in order, the names' kinds and a line saying
    what mount and the file system's checker said; the checker's exit status last."""
    if not wanted:
        return
    mark_sector = MARK_OFFSET // SECTOR
    image, state_image, mounted = f"{work}/{fs}.replay", f"{work}/{fs}.state", f"{work}/{fs}.mnt"
    run("cp", "--sparse=always", base, image)
    os.makedirs(mounted, exist_ok=True)
    with open(log_path, "rb") as log, open(image, "r+b") as disk:
        applied, next_entry = 0, 0
        for state in sorted(wanted):
            while applied < state:
                first, sectors, flags, offset = entries[next_entry]
                next_entry += 1
                if flags & LOG_FLUSH or first == mark_sector:
                    continue
                log.seek(offset)
                disk.seek(first * SECTOR)
                disk.write(log.read(sectors * SECTOR))
                applied += 1
            disk.flush()
            run("cp", "--sparse=always", image, state_image)
            names = wanted[state]
            # mount -o loop would reuse a loop device whose detaching, deferred after the last
            # umount, has not happened yet, with the page cache of the state before: one
            # device per state, detached before the next, its cache dropped before use.
            device = run("losetup", "--find", "--show", state_image, stdout=subprocess.PIPE).stdout.decode().strip()
            try:
                run("blockdev", "--flushbufs", device)
                mount = subprocess.run(["mount", "-t", fs, device, mounted], stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
                if mount.returncode:
                    kinds = dict.fromkeys(names, "unmountable")
                else:
                    try:
                        kinds = {n: find(mounted, n) for n in names}
                    finally:
                        run("umount", mounted)
            finally:
                run("losetup", "--detach", device)
            verdict = f"mount: {mount.stdout.decode().strip() or 'ok'}"
            status = 0
            if not mount.returncode:
                checker = subprocess.run([tool(f"DURABILITY_FSCK_{fs.upper()}"), *FSCK_OPTIONS[fs], state_image],
                                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                status = checker.returncode
                verdict += f"; checker exit status {status}"
                if status:
                    verdict += ":\n" + checker.stdout.decode(errors="replace")
            yield state, kinds, verdict, status
    for path in (image, state_image):
        os.remove(path)


def marks(log_path, entries):
    """The marks in the log: name -> event -> the file-system writes before the last flush ahead of it;
    and those flushes."""
    mark_sector = MARK_OFFSET // SECTOR
    # A crash state is named by how many file-system writes precede it; the
    # marks are outside the file system and change no state.
    points, writes, last_flush = {}, 0, None
    flushes = []
    with open(log_path, "rb") as log:
        for first, sectors, flags, offset in entries:
            if flags & LOG_FLUSH:
                last_flush = writes
                flushes.append(writes)
            elif first == mark_sector:
                log.seek(offset)
                _, name, event = log.read(CONTENT_BYTES).split(b"\n")[0].decode().split()
                points.setdefault(name, {})[event] = last_flush
            else:
                writes += 1
    return points, flushes


def check(work, fs, base, log_path):
    """Each trial's file at its points: before the call, acknowledged, every later flush."""
    entries = read_log(log_path)
    points, flushes = marks(log_path, entries)
    first_ack = min(p["acknowledged"] for p in points.values())
    states = sorted({s for s in flushes if s >= first_ack} | {p["before"] for p in points.values()})
    wanted = {state: [n for n, p in points.items() if p["before"] == state or p["acknowledged"] <= state]
              for state in states}
    found = collections.defaultdict(dict)  # name -> state -> kind
    fsck_complaints = []
    # What each state held and what mount and the checker said, to look into afterwards.
    with open(f"{work}/{fs}.states", "w") as journal:
        for state, kinds, verdict, status in replay(work, fs, base, log_path, entries, wanted):
            if status:
                fsck_complaints.append(state)
            journal.write(f"state {state}: {tally(kinds.values(), len(kinds), lost_only=False)}; {verdict}\n")
            for n, kind in kinds.items():
                found[n][state] = kind
    return points, found, len(states), fsck_complaints


def tally(kinds, total, lost_only=True):
    counts = collections.Counter(kinds)
    shown = [f"{counts[k]} {k}" for k in KINDS if counts[k] and (k != "whole" or not lost_only)]
    if not lost_only:
        return ", ".join(shown)
    lost = sum(counts[k] for k in KINDS if k != "whole")
    return f"{lost}/{total}" + (f" ({', '.join(shown)})" if shown else "")


# The faults mode: per configuration, (label, file system, mount options, scenarios).
CONFIGURATIONS = [(fs, fs, "defaults", ("write", "read", "full")) for fs in FILE_SYSTEMS] + [
    ("ext4-remount-ro", "ext4", "errors=remount-ro", ("write",))]
STEPS = {
    "write.first": "1. writes fail: rename a, call",
    "write.again": "2. writes fail: call again",
    "write.new-name": "2. writes fail: rename b, call",
    "write.lifted": "2. fault lifted: call",
    "write.lifted-new-name": "2. fault lifted: rename c, call",
    "read.open": "4. reads fail, just after a mount: call on d/e",
    "read.lifted": "4. fault lifted: call on d/e",
    "full.rename": "5. file system full: rename g, call",
}
FLUSH_FAILED = "Movrek Error [Native Module] Directory flush failed for {}."


def print_table(header, align, rows, notes, started):
    """The run's Markdown table, as docs/durability.md publishes it, then its notes and run time."""
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(align) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()
    for note in notes:
        print(note)
    print(f"run time: {time.monotonic() - started:.0f} s")


def faults(args, release, initramfs, vmlinuz, scratch, started):
    """The disk fails under each file system: the library's answers, the kernel's, and the names on the
    disk at a power cut after each step on the logged disk. Exits 1 when the first call under the fault
    is not false with the flush-failed line, or the library said true where the kernel's fsync failed."""
    library = tool("DURABILITY_IGNORE_ERRORS" if args.ignore_errors else "DURABILITY_LIBRARY")
    tool("DURABILITY_DMSETUP")
    print(f"date:    {time.strftime('%Y-%m-%d')}")
    print(f"guest:   Linux {release} (Debian 12), qemu-system-x86_64 -accel tcg -cpu max, HotSpot 17")
    print("fault:   device-mapper in the guest: the \"error\" target loaded in place of \"linear\" "
          "under the mounted file system, then \"linear\" again")
    print(f"replay:  Linux {os.uname().release} (this host) mounts the disk as a power cut after each step left it")
    print(f"call:    forceDirectories through {library}")
    print()
    rows, notes, broken = [], [], []
    wanted = args.fs.split(",")
    for label, fs, options, scenarios in CONFIGURATIONS:
        if fs not in wanted:
            continue
        began = time.monotonic()
        # One file system per scenario, each made apart: xfs refuses a second disk with the same UUID.
        bases = [make_disk(args.work, f"{label}.{scenario}", fs) for scenario in scenarios]
        base = bases[0]
        log, console = run_guest(args.work, label, bases, initramfs, vmlinuz,
                                 [scratch, "none", *java(tool("DURABILITY_CLASSES"), "--faults", library, fs, options,
                                                         scratch, str(MARK_OFFSET), *scenarios)])
        guest_seconds = time.monotonic() - began
        # Each step: the renames before it, what the library printed, its answer, the kernel's.
        steps, renames, printed, current = [], [], [], None
        for line in console:
            if line.startswith("fault-rename "):
                renames.append(line.split(" ", 2)[1] + (" (" + line.split(" ", 3)[3] + ")" if " failed: " in line else ""))
            elif line.startswith("fault-fill "):
                renames.append("filled: " + line.split(" ", 1)[1])
            elif line.startswith("fault-step "):
                current, directory = line.split(" ", 2)[1:]
                printed = []
            elif line.startswith("fault-answer "):
                step, answer, names, kernel = line.split(" ", 4)[1:]
                steps.append((step, directory, printed, answer == "true", [] if names == "-" else names.split(","),
                              kernel, renames))
                current, renames = None, []
            elif current and line.strip() and not line.startswith("kernel: "):
                printed.append(line.strip())
        if not steps or steps[0][0] != "write.first":
            broken.append(f"{label}: no first call under the fault in {args.work}/{label}.console")
        entries = read_log(log)
        points, _ = marks(log, entries)
        # A power cut after every step on the logged disk; those after a true are the ones that matter.
        cuts = {points[step]["after"]: names for step, _, _, _, names, _, _ in steps if step in points}
        on_disk = {state: (kinds, verdict) for state, kinds, verdict, _ in replay(args.work, fs, base, log, entries, cuts)}
        with open(f"{args.work}/{label}.states", "w") as journal:
            for state, (kinds, verdict) in sorted(on_disk.items()):
                journal.write(f"state {state}: {kinds}; {verdict}\n")
        notes.append(f"{label}: guest {guest_seconds:.0f} s; power cuts replayed: {len(on_disk)}, in "
                     f"{time.monotonic() - began - guest_seconds:.0f} s")
        print(notes[-1], file=sys.stderr)
        for step, directory, lines, answer, names, kernel, before in steps:
            line = "; ".join(lines).replace(directory, "<dir>") or "none"
            disk = "not logged"
            if step in points:
                kinds, _ = on_disk[points[step]["after"]]
                disk = ", ".join(f"{n} {k}" for n, k in kinds.items()) or "no name renamed"
            title = STEPS[step] + "".join(f" [{r}]" for r in before if " (" in r or r.startswith("filled"))
            rows.append((fs if options == "defaults" else f"{fs}, {options}", title,
                         "true" if answer else "false", f"`{line}`" if lines else line, kernel, disk))
            if step == "write.first" and (answer or lines != [FLUSH_FAILED.format(directory)]):
                broken.append(f"{label}: the first call under the fault answered {str(answer).lower()}, "
                              f"printing {line!r}, where false and {FLUSH_FAILED.format('<dir>')!r} were expected")
            if answer and kernel != "fsync ok":
                broken.append(f"{label} {step}: the library answered true where the kernel's own fsync said {kernel!r}")
    header = ("file system", "scenario and step", "library", "its line", "kernel: open, fsync, close right after",
              "on the disk after a power cut there")
    print_table(header, ["---"] * len(header), rows, notes, started)
    if broken:
        print("durability: " + "; ".join(broken))
        sys.exit(1)
    print("durability: every first call under a failing disk answered false with the flush-failed line, "
          "and no call answered true where the kernel's own fsync failed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--no-flush", action="store_true",
                        help="call a stand-in library that returns true and flushes nothing")
    parser.add_argument("--trials", type=int, default=30)
    parser.add_argument("--fs", default=",".join(FILE_SYSTEMS))
    parser.add_argument("--faults", action="store_true", help="make the disk fail under the file system")
    parser.add_argument("--ignore-errors", action="store_true",
                        help="with --faults, call a stand-in library that drops fsync's failures")
    parser.add_argument("work")
    args = parser.parse_args()
    if args.ignore_errors and not args.faults:
        parser.error("--ignore-errors goes with --faults")
    started = time.monotonic()
    os.makedirs(args.work, exist_ok=True)
    release, initramfs, vmlinuz = make_initramfs(args.work, tool("DURABILITY_KERNEL"))
    scratch = os.path.abspath(f"{args.work}/scratch")
    os.makedirs(scratch, exist_ok=True)
    if args.faults:
        faults(args, release, initramfs, vmlinuz, scratch, started)
        return
    library = tool("DURABILITY_NOFLUSH" if args.no_flush else "DURABILITY_LIBRARY")
    label = "stand-in" if args.no_flush else "library"
    print(f"date:    {time.strftime('%Y-%m-%d')}")
    print(f"guest:   Linux {release} (Debian 12), qemu-system-x86_64 -accel tcg -cpu max, HotSpot 17")
    print(f"replay:  Linux {os.uname().release} (this host) mounts each crash state, default options")
    print(f"call:    forceDirectories through {library}")
    print()
    rows, notes, broken = [], [], []
    for fs in args.fs.split(","):
        began = time.monotonic()
        base = make_disk(args.work, fs, fs)
        log, _ = run_guest(args.work, fs, [base], initramfs, vmlinuz,
                           [scratch, fs, *java(tool("DURABILITY_CLASSES"), library, "/dev/vda", str(MARK_OFFSET),
                                               f"{scratch}/disk", str(args.trials), *WORKLOADS)])
        guest_seconds = time.monotonic() - began
        points, found, states, complaints = check(args.work, fs, base, log)
        notes.append(f"{fs}: guest {guest_seconds:.0f} s; {states} crash states mounted in "
                     f"{time.monotonic() - began - guest_seconds:.0f} s; the file system's checker "
                     f"complained about {len(complaints)}")
        print(notes[-1], file=sys.stderr)
        for workload in WORKLOADS:
            names = [f"{workload}.{t}" for t in range(args.trials)]
            at_ack = [found[n][points[n]["acknowledged"]] for n in names]
            later = [[k for s, k in found[n].items() if s > points[n]["acknowledged"]] for n in names]
            worst_later = [min((KINDS.index(k) for k in ks), default=KINDS.index("whole")) for ks in later]
            checked = {s for n in names for s in found[n] if s >= points[n]["acknowledged"]}
            kind, _, call = workload.partition("+")
            rows.append((fs, kind, label if call else "no", str(args.trials), str(len(checked)),
                         tally(at_ack, args.trials), tally([KINDS[i] for i in worst_later], args.trials),
                         tally([found[n][points[n]["before"]] for n in names], args.trials, lost_only=False)))
            lost_names = sum(1 for a, w in zip(at_ack, worst_later)
                             if KINDS.index(a) <= KINDS.index("missing") or w <= KINDS.index("missing"))
            if call and lost_names:
                broken.append(f"{fs} {kind}: {lost_names}/{args.trials}")
    header = ("file system", "workload", "call", "trials", "crash points checked",
              "lost at acknowledgement", "lost at any later point", "just before the call")
    print_table(header, ["---" if i < 3 else "--:" if i < 5 else "---" for i in range(len(header))], rows, notes,
                started)
    if broken:
        print(f"durability: names lost after forceDirectories returned true: {'; '.join(broken)}")
        sys.exit(1)
    print("durability: every name the call flushed was there at acknowledgement and at every later crash point")


if __name__ == "__main__":
    main()
