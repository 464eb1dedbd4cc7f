#!/usr/bin/env python3
r"""Runs forceDirectories inside a real JVM, one child JVM per case, and
compares each child's exit status (the boolean result) and its exact stdout
bytes (the library's lines), and requires an empty stderr.

  jvm_cases.py CLASSES LIBRARY JAR PLATFORMS SETPRIV UID [--restricted-load-warning] [--cannot-list] [--windows]
               [--one-at-a-time] -- JAVA [JVM OPTIONS...]

JAVA may be a launcher followed by the java program (qemu-i386 -L / java).
With --restricted-load-warning, the JVM is one (JDK 22 and later) that warns
on System.load unless native access is enabled: every case that loads runs
with --enable-native-access=ALL-UNNAMED (the named module's, with its own
module's name) and must leave stderr empty, and one more
case runs without it and must print exactly the warning.
With --cannot-list, the JVM cannot list a folder here (a 32-bit JVM under
qemu-user gets EOVERFLOW on ext4's 64-bit offsets, which a real 32-bit
process is not given), so the cases that need the loader to list one are
left out.
With --windows, JAVA is Windows' java.exe under Wine as user UID, through
tests/windows/run-wine.sh --java: the fixtures are given to UID, a path
reaches the JVM as Z:\ and backslashes (a case's own names after it keep
/, which Windows takes as it is), the library's lines and Java's last one
end in \r\n, the account is HOST\user, and the cases Wine cannot run are
left out (WINE_CANNOT and jar_cases). With --one-at-a-time, only one such
JVM runs at a time (Wine in a Debian tree: a namespace and server per JVM),
so the case of four JVMs at once is left out.
The cases through JAR's NativeflushLibrary each extract into a folder of
their own, which must then hold exactly LIBRARY's bytes under the name the
jar's version and their hash make; one runs as a named module that alone is
granted native access, others meet a folder they must refuse. For each of
PLATFORMS (os.name/os.arch,...) the jar must extract the file that
docs/java.md's method names.
Fixtures, classes and library are copied under a fresh directory in /tmp
that an unprivileged user can read, because the permission case runs the
child as user UID: root would open anything.
"""
import hashlib
import os
import pwd
import re
import shutil
import socket
import subprocess
import sys
import tempfile
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import messages
from reporting import report, summary

TRUE, FALSE = 0, 3  # ForceDirectoriesMain's exit statuses: 3 + index of the first call that returned false
MAIN = "org.movrek.filesystem.ForceDirectoriesMain"
NON_BMP = "\U0001F600"  # outside the Basic Multilingual Plane
ENABLE_NATIVE_ACCESS = "--enable-native-access=ALL-UNNAMED"
MODULE = "org.movrek.filesystem.tests"  # the drivers' module
UNMAPPED = "mount-\u00e9"  # a name the C locale cannot map
JAR_FOLDERS = ("jar", "together", "arrivals", "module", "shared", "noexec", "unused", "every", "linked", "open",
               "nopasswd", "named", "escape", "unmapped", UNMAPPED, "replaced", "stale", "squatted", "theirs", "their_copy",
               "everyone", "open_copy")

# The driver's first argument is the library file, or with by_directory the
# directory that holds it, from which docs/java.md's method picks the file, or
# with jar "--jar", extracting into ROOT/JAR. Such a case may run as the named
# module, in several JVMs at once (copies), inside a wrapper command, between
# two steps (before and after, which return what they found wrong), as the
# user UID or as unprivileged, a uid of its own.
Case = namedtuple("Case", "name options paths status stdout unprivileged stderr by_directory jar module copies before "
                  "wrapper after", defaults=(b"", False, None, False, 1, lambda: [], (), lambda: []))
# Wine's CreateFileA keeps only a path's length modulo 65536 and opens what
# that prefix names (tests/windows/CMakeLists.txt).
WINE_CANNOT = ("64 KiB path", "1 MiB path")


def restricted_load_warning(root):
    return (f"WARNING: A restricted method in java.lang.System has been called\n"
            f"WARNING: java.lang.System::load has been called by {MAIN} in an unnamed module "
            f"(file:{'/' if root[1:2] == ':' else ''}{root.replace(chr(92), '/')}/classes/)\n"
            f"WARNING: Use {ENABLE_NATIVE_ACCESS} to avoid a warning for callers in this module\n"
            f"WARNING: Restricted methods will be blocked in a future release unless native access is enabled\n"
            f"\n").encode()


def not_found(path):
    return messages.not_found(as_bytes(path))


def flush_failed(path):
    return messages.flush_failed(as_bytes(path))


def as_bytes(path):
    return path if isinstance(path, bytes) else path.encode()


def utf8(path):
    """An argument that reaches the driver intact whatever the locale."""
    return "--utf8-hex=" + path.encode().hex()


def cases(root, restricted_load_warning_expected=False, windows=False):
    """Every Case; with restricted_load_warning_expected and windows, as described at the top."""
    a, b, c = f"{root}/a", f"{root}/b", f"{root}/c"
    # The JVM hands out modified UTF-8, where a character beyond the BMP is a
    # surrogate pair of three bytes each, not the four bytes on disk.
    non_bmp_modified_utf8 = f"{root}/".encode() + b"\xed\xa0\xbd\xed\xb8\x80"
    listed = [
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
    listed = [Case(*case) for case in listed if not (windows and case[0] in WINE_CANNOT)]
    listed.append(Case("library chosen by os.name and os.arch", [], [a], TRUE, b"", False, by_directory=True))
    if not restricted_load_warning_expected:
        return listed
    return listed + [Case("without native access, the JVM warns", [], [a], TRUE, b"", False, restricted_load_warning(root))]


def jar_cases(root, uid, library, version, platforms, can_list=True, account=None, together=True):
    """Through the jar, and the folders it must refuse: exit status 2, its message on stderr. With account
    (HOST\\user), in the Windows JVM, where another account is a uid of no one's (Wine names every uid but
    its own NT AUTHORITY\\ANONYMOUS LOGON) and the checks are those of Windows' access lists."""
    jvm = windows_path if account else str
    me = re.sub("[^A-Za-z0-9]", "_", account) if account else str(os.getuid())  # the per-user folder's id
    no_passwd = next(u for u in range(54321, 1 << 31) if u not in {p.pw_uid for p in pwd.getpwall()})

    def jar(name, folder, *options, extracts=True, owner=me, kept=False, **changes):
        """Afterwards the folder holds library's copy (kept: the one the case put there), or nothing where the
        case refuses or names the file."""
        case = Case(name, list(options), [f"{jvm(root)}/a"], TRUE, b"", False, jar=folder)._replace(**changes)
        left = library if extracts and case.status == TRUE or kept else None
        outside = lambda: [f"{root}/escaped exists, outside the temp folder"] if os.path.exists(f"{root}/escaped") else []
        return case._replace(after=lambda: extraction_problems(f"{root}/{folder}", left, version, owner) + outside()) \
            if extracts is not None else case

    def at(folder):
        return os.path.join(root, folder, copy_name(library, version, me))

    def placed(folder, make):
        """Before: make(the path of the copy), the way a killed or meddling run of the user's own left it."""
        return lambda: make(at(folder))

    def stale(copy):
        os.makedirs(os.path.dirname(copy))
        with open(copy + "123.part", "wb"):
            pass
        os.utime(copy + "123.part", (1e9, 1e9))
        return []

    def made_by(folder, owner, mode):
        return lambda: [os.makedirs(folder, mode), os.chown(folder, owner, owner), os.chmod(folder, mode)][:0]

    def put(copy, owner, mode):
        return [os.makedirs(os.path.dirname(copy)), shutil.copy(library, copy), os.chown(copy, owner, owner),
                os.chmod(copy, mode)][:0]

    def tamper(folder):
        copies = [os.path.join(d, f) for d, _, files in os.walk(folder) for f in files]
        for copy in copies:
            with open(copy, "wb") as f:
                f.write(b"tampered\n")
        return [] if copies else [f"nothing in {folder} to tamper with"]

    def empty(*folders):
        return lambda: [[shutil.rmtree(folder), os.mkdir(folder)] for folder in folders][:0]

    def refused(path, found, remove="remove it", kind="a folder"):
        return (f"nativeflush: {jvm(path)} must be {kind} of your own ({account or f'uid {os.getuid()}'}) that only you "
                f"can write to; found {found}; {remove}, or set nativeflush.tmpdir to a folder of your own\n").encode()

    def own_instead():
        """The copy is under a nativeflush-ID-<random> of the user's own; the other's folder is as it was."""
        mine = [n[len("nativeflush-"):] for n in os.listdir(f"{root}/squatted") if n.startswith(f"nativeflush-{me}-")]
        kept = os.lstat(squatted).st_uid == no_passwd and not os.listdir(squatted)
        return extraction_problems(f"{root}/squatted", library, version, mine[0] if len(mine) == 1 else f"{me}-<random>") \
            + ([] if kept else [f"{squatted} is not the other account's empty folder any more"])

    shared, noexec, linked, squatted, everyone = (
        f"{root}/{name}/nativeflush-{me}" for name in ("shared", "noexec", "linked", "squatted", "everyone"))
    mount = ["unshare", "--mount", "sh", "-c", 'mount -t tmpfs -o "$1" tmpfs "$0" && shift && exec "$@"']
    theirs = "NT AUTHORITY\\ANONYMOUS LOGON"
    listing = [
        jar("through the jar: a folder in place of the copy is replaced", "replaced",
            before=placed("replaced", lambda copy: [os.makedirs(f"{copy}/inner"), open(f"{copy}/inner/file", "w").close()][:0])),
        jar("through the jar: a stale .part is removed", "stale", before=placed("stale", stale)),
        # In a sticky temp folder; README's class asks path() again: once more, its own folder is found, not a new one made.
        jar("through the jar: another account's per-user folder in the way, one of your own instead", "squatted",
            before=lambda: [os.chmod(f"{root}/squatted", 0o1777)][:0] + made_by(squatted, no_passwd, 0o777)(),
            extracts=None, after=own_instead),
        jar("through the jar: another account's per-user folder in the way, your own used again", "squatted",
            extracts=None, after=own_instead),
    ]
    posix = [
        jar("through the jar: a group-writable folder is refused", "shared", status=2,
            before=made_by(shared, os.getuid(), 0o770), stderr=refused(shared, f"a folder owned by uid {os.getuid()}, mode 0770")),
        jar("through the jar: a link in place of the folder is refused", "linked", status=2,
            before=lambda: [os.symlink(f"{root}/b", linked)][:0],
            stderr=refused(linked, f"a symbolic link owned by uid {os.getuid()}, mode 0777")),
        jar("through the jar: a noexec mount is refused", "noexec", status=2, wrapper=[*mount, f"{root}/noexec", "noexec"],
            stderr=f"nativeflush: {noexec} is on {root}/noexec, mounted noexec, where no library can be loaded; set "
                   f"nativeflush.tmpdir to a folder of your own on a mount without noexec\n".encode()),
        jar("through the jar: a temp folder others may write to, not sticky, is refused", "open", status=2,
            before=lambda: [os.chmod(f"{root}/open", 0o777)][:0],
            stderr=f"nativeflush: {root}/open is a folder owned by uid {os.getuid()}, mode 0777; the temp folder and every "
                   f"folder above it must be owned by root or by you (uid {os.getuid()}), and writable by no one else unless "
                   f"sticky, as /tmp is; set nativeflush.tmpdir to a folder of your own\n".encode()),
        jar("through the jar: as a uid with no passwd entry", "nopasswd", unprivileged=no_passwd, owner=no_passwd,
            before=lambda: [os.chown(f"{root}/nopasswd", no_passwd, no_passwd)][:0]),
        jar("through the jar: under LANG=C, beside a mount point the locale cannot name", "unmapped",
            wrapper=["env", "LC_ALL=C", "LANG=C", *mount, f"{root}/{UNMAPPED}", "rw"]),
    ]
    # Wine shows a link as what it names, has no noexec, group or locale of its own to
    # check, and runs as one user; the temp folder is not walked on Windows (docs/jar.md).
    windows = [
        jar("through the jar: a version folder of another account's is refused", "theirs", status=2,
            before=placed("theirs", lambda copy: made_by(os.path.dirname(copy), no_passwd, 0o755)()),
            stderr=refused(os.path.dirname(at("theirs")), f"a folder owned by {theirs}, writable by {theirs}", "its owner or root must remove it")),
        jar("through the jar: a copy of another account's is refused", "their_copy", status=2, kept=True,
            before=placed("their_copy", lambda copy: put(copy, no_passwd, 0o644)),
            stderr=refused(at("their_copy"), f"a file owned by {theirs}, writable by {theirs}", "its owner or root must remove it", "a file")),
        jar("through the jar: a per-user folder Everyone may write to is refused", "everyone", status=2,
            before=made_by(everyone, os.getuid(), 0o757),
            stderr=refused(everyone, f"a folder owned by {account}, writable by \\Everyone")),
        jar("through the jar: a copy Everyone may write to is refused", "open_copy", status=2, kept=True,
            before=placed("open_copy", lambda copy: put(copy, os.getuid(), 0o646)),
            stderr=refused(at("open_copy"), f"a file owned by {account}, writable by \\Everyone", kind="a file")),
    ]
    rounds = (20 if account else 1) * together
    return (listing if can_list else []) + [
        jar("through the jar", "jar"),
        jar("through the jar: a tampered copy is replaced", "jar", before=lambda: tamper(f"{root}/jar")),
        *(jar(f"through the jar: four JVMs at once{f', round {n + 1} of {rounds}' if rounds > 1 else ''}", "together",
              f"-Dtogether={jvm(root)}/arrivals,4", copies=4, before=empty(f"{root}/together", f"{root}/arrivals"))
          for n in range(rounds)),
        jar("through the jar, as a named module", "module", module=True),
        jar("through the jar: nativeflush.library.path is used as it is", "unused",
            f"-Dnativeflush.library.path={jvm(root)}/{os.path.basename(library)}", extracts=False),
        jar("through the jar: for each platform, the file docs/java.md's method names", "every", f"-Dplatforms={platforms}",
            extracts=None),
        jar("through the jar: user.name naming another user changes nothing", "named",
            f"-Duser.name={pwd.getpwuid(os.getuid() if account else int(uid)).pw_name}"),
        jar("through the jar: user.name cannot lead out of the temp folder", "escape", "-Duser.name=/../../escaped",
            before=lambda: [os.mkdir(f"{root}/escape/nativeflush-")][:0]),
    ] + (windows if account else posix)


def windows_path(path):
    """path as a Windows JVM under Wine names it: drive Z: is /."""
    return "Z:" + path.replace("/", "\\")


def copy_name(library, version, uid):
    """Where the jar puts library's copy for uid (on Windows the account, made safe), under the temp folder."""
    with open(library, "rb") as f:
        return f"nativeflush-{uid}/{version}-{hashlib.sha256(f.read()).hexdigest()[:16]}/{os.path.basename(library)}"


def extraction_problems(folder, library, version, uid):
    """folder must hold one file, library's bytes, at copy_name; no file if library is None."""
    expected = {}
    if library:
        with open(library, "rb") as f:
            expected = {copy_name(library, version, uid): f.read()}
    found = {}
    for directory, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(directory, name), "rb") as f:
                found[os.path.relpath(os.path.join(directory, name), folder)] = f.read()
    if found == expected:
        return []
    return [f"{folder} holds {sorted(found)}{' with other bytes' if found.keys() == expected.keys() else ''}, "
            f"expected exactly {list(expected)}{f' with the bytes of {library}' if library else ''}"]


def make_fixture(root, classes, library, jar):
    for name in ("a", "b", "c", "gone", "locked", NON_BMP, *JAR_FOLDERS):
        os.mkdir(os.path.join(root, name))
    os.chmod(os.path.join(root, "locked"), 0o000)
    with open(os.path.join(root, "file"), "w"):
        pass
    os.symlink(os.path.join(root, "a"), os.path.join(root, "link"))
    os.symlink(os.path.join(root, "nowhere"), os.path.join(root, "dangling"))
    shutil.copytree(classes, os.path.join(root, "classes"))
    shutil.copy(library, os.path.join(root, os.path.basename(library)))
    shutil.copy(jar, os.path.join(root, os.path.basename(jar)))
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
    classes, library, jar, platforms, setpriv, uid, *mode = sys.argv[1:split]
    warning_expected = "--restricted-load-warning" in mode
    windows = "--windows" in mode
    jvm, separator = (windows_path, ";") if windows else (str, ":")
    # As Wine names the user: HOST\\user, HOST its NetBIOS name.
    account = f"{socket.gethostname().split('.')[0].upper()[:15]}\\{pwd.getpwuid(int(uid)).pw_name}" if windows else None
    java = sys.argv[split + 1:]
    if not os.path.exists(java[0]):
        print(f"{java[0]}: no such program; scripts/test.sh installs what the tests need")
        return 1
    failed = 0
    with tempfile.TemporaryDirectory(prefix="nativeflush-jvm.") as root:
        make_fixture(root, classes, library, jar)
        library_copy = os.path.join(root, os.path.basename(library))
        jar_copy = os.path.join(root, os.path.basename(jar))
        version = re.fullmatch(r"nativeflush-(.*)[.]jar", os.path.basename(jar)).group(1)
        listed = cases(jvm(root), warning_expected, windows) + jar_cases(
            root, uid, library, version, platforms, "--cannot-list" not in mode, account, "--one-at-a-time" not in mode)
        for case in listed:
            first = "--jar" if case.jar else jvm(root) if case.by_directory else jvm(library_copy)
            extract = [f"-Dnativeflush.tmpdir={jvm(f'{root}/{case.jar}')}"] if case.jar else []
            # The jar cases' DurableDiskSession is README.md's, which loads through the jar.
            classes = [f"{root}/classes/snippet", f"{root}/classes"] if case.jar else [f"{root}/classes"]
            launch = ["-p", separator.join(map(jvm, [f"{root}/classes/drivers.jar", jar_copy])), "-m", f"{MODULE}/{MAIN}"] \
                if case.module else ["-cp", separator.join(map(jvm, [*classes, jar_copy])), MAIN]
            if warning_expected and not case.stderr:
                extract.append(f"--enable-native-access={MODULE}" if case.module else ENABLE_NATIVE_ACCESS)
            command = [*java, "-XX:-UsePerfData", *extract, *case.options, *launch, first, *case.paths]
            if case.unprivileged and not windows:
                user = uid if case.unprivileged is True else case.unprivileged
                command = [setpriv, f"--reuid={user}", f"--regid={user}", "--clear-groups", *command]
            if windows:  # msvcrt's text mode writes \r\n for \n; Java's println ends its text with \r\n
                case = case._replace(stdout=case.stdout.replace(b"\n", b"\r\n"),
                                     stderr=case.stderr and case.stderr[:-1] + b"\r\n")
            problems = case.before()
            if windows:  # what this process made becomes the Wine user's
                subprocess.run(["chown", "-hR", f"--from={os.getuid()}", f"{uid}:{uid}", root], check=True)
            runs = [subprocess.Popen([*case.wrapper, *command], cwd=root, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE) for _ in range(case.copies)]
            for run in runs:
                stdout, stderr = run.communicate(timeout=120)
                if run.returncode != case.status:
                    problems.append(f"exit status {run.returncode}, expected {case.status}")
                if stdout != case.stdout:
                    problems.append(f"stdout {shorten(stdout)}, expected {shorten(case.stdout)}")
                if stderr != case.stderr:
                    problems.append(f"stderr {shorten(stderr)}, expected {shorten(case.stderr)}")
            problems += case.after()
            failed += report(case.name, problems)
    return summary(len(listed), failed)


if __name__ == "__main__":
    sys.exit(main())
