#!/bin/sh
# Launcher for run-harness.sh: runs a Windows harness under Wine, as an
# unprivileged user, on the fixture tree that run-harness.sh made.
#   run-wine.sh [--relay] [--tree TREE QEMU WAY] WINE WINESERVER SETPRIV UID WINE_HOME  HARNESS LIBRARY ROOT CAPTURE_FILE
# --relay runs the harness's relay cases with Wine's relay trace on stderr.
# --tree runs the Wine of the Debian tree TREE, chrooted into it (WINE,
# WINESERVER, SETPRIV, WINE_HOME and QEMU are paths inside it), whose
# programs are for another architecture than the host's: QEMU's (qemu-i386,
# qemu-aarch64). WAY, chosen once per configure (tests/CMakeLists.txt), says
# how the kernel comes to run them: "native", itself; "namespace", through a
# binfmt_misc entry for QEMU in a user namespace of the run's own (Linux 6.7
# and later); "host", through such an entry in the host's table, made once
# and left in place.
#
# Root would open a read-only file for writing, so Wine runs as user UID. Its
# prefix, WINE_HOME/prefix, is made on the first run (about 10 s, and Wine
# copies some 700 MB of DLLs into it; under qemu-i386 about 20 s) and reused
# after that. Wine needs the prefix to belong to the user who runs it. The
# fixture tree is given to that user, with copies of the harness and the
# library, as their own directories may be closed to it.
set -eu
if [ "${NATIVEFLUSH_WINE_NAMESPACE:-}" = mapping ]; then
  # Started in the new namespaces before the ids were mapped, and so without
  # a root's capabilities there: once they are, start again as that root.
  tries=0
  while [ -z "$(cat /proc/self/uid_map)" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 1000 ]; then
      echo "run-wine.sh: the user namespace's ids were not mapped within 10 s" >&2
      exit 2
    fi
    sleep 0.01
  done
  NATIVEFLUSH_WINE_NAMESPACE=inside exec sh "$0" "$@"
fi
winedebug=-all mode= tree= qemu= way=
if [ "$1" = --relay ]; then
  mode=relay
  shift
fi
if [ "$1" = --tree ]; then
  tree=$2 qemu=$3 way=$4
  shift 4
fi
wine=$1 wineserver=$2 setpriv=$3 uid=$4 wine_home=$5 harness=$6 library=$7 root=$8 capture=$9

# The binfmt_misc entry that hands QEMU's architecture's ELF executables,
# static or position-independent, to QEMU; F opens QEMU when the entry is
# made, so that it is found from inside the tree as well. The kernel takes
# an entry in one write.
binfmt_entry() {
  case $(basename "$qemu") in
    qemu-i386) magic=':nativeflush-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:' ;;
    qemu-aarch64) magic=':nativeflush-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:' ;;
    *) echo "run-wine.sh: no binfmt_misc entry for $qemu" >&2; exit 2 ;;
  esac
  printf '%s' "$magic$tree$qemu:F"
}

if [ -n "$tree" ] && [ -z "${NATIVEFLUSH_WINE_NAMESPACE:-}" ]; then
  if [ ! -f "$tree/.nativeflush-packages" ]; then
    echo "run-wine.sh: the Debian tree $tree is missing or incomplete; scripts/bootstrap.sh --tree $tree makes it" >&2
    exit 2
  fi
  for file in "$wine" "$wineserver" "$qemu"; do
    if [ ! -f "$tree$file" ]; then
      echo "run-wine.sh: the Debian tree $tree has no $file; see TREE_PACKAGES in scripts/bootstrap.sh" >&2
      exit 2
    fi
  done
  # Everything below runs in namespaces of its own: its mounts, its
  # binfmt_misc entry where the kernel allows one per user namespace, and
  # every Wine process end with it. A user namespace maps the ids of this
  # one, so that the unprivileged user is the same in both.
  # One run at a time uses the tree's prefix: a second run's Wine would
  # find the first one's server, which serves another PID namespace.
  exec 8> "$tree$wine_home.lock"
  flock 8
  status=0
  case $way in
    native|host)
      if [ "$way" = host ]; then
        binfmt=/proc/sys/fs/binfmt_misc
        [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
        entry=$(binfmt_entry) && name=${entry#:} && name=${name%%:*}
        [ -f "$binfmt/$name" ] || printf '%s' "$entry" > "$binfmt/register"
      fi
      NATIVEFLUSH_WINE_NAMESPACE=inside unshare --mount --pid --fork sh "$0" ${mode:+--relay} --tree "$tree" "$qemu" "$way" "$@" ||
        status=$?
      ;;
    namespace)
      NATIVEFLUSH_WINE_NAMESPACE=mapping unshare --user --mount --pid --fork sh "$0" ${mode:+--relay} --tree "$tree" "$qemu" "$way" "$@" &
      inner=$!
      while kill -0 "$inner" 2>/dev/null && [ "$(readlink "/proc/$inner/ns/user")" = "$(readlink /proc/self/ns/user)" ]; do
        sleep 0.01
      done
      echo "0 0 65536" > "/proc/$inner/uid_map" || true
      echo "0 0 65536" > "/proc/$inner/gid_map" || true
      wait "$inner" || status=$?
      ;;
    *) echo "run-wine.sh: '$way' is none of native, namespace, host" >&2; exit 2 ;;
  esac
  rmdir "$tree$root" 2>/dev/null || true
  exit "$status"
fi

run=
if [ -n "$tree" ]; then
  mount -t proc proc "$tree/proc"
  if [ "$way" = namespace ]; then
    mount -t binfmt_misc binfmt_misc "$tree/proc/sys/fs/binfmt_misc"
    binfmt_entry > "$tree/proc/sys/fs/binfmt_misc/register"
  fi
  # The fixture tree, at the same path inside, so that the paths printed match.
  mkdir -p "$tree$root"
  mount --bind "$root" "$tree$root"
  run="chroot $tree"
fi

# Wine encodes file names for Linux by the locale: under plain C it cannot
# name a non-ASCII file at all. Its ANSI code page then is 1252.
as_user() {
  $run "$setpriv" --reuid="$uid" --regid="$uid" --clear-groups \
    env -i --chdir="$PWD" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$wine_home" WINEPREFIX="$wine_home/prefix" WINESERVER="$wineserver" WINEDEBUG="$winedebug" \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" "$@"
}

cp "$harness" "$library" "$root/"
chown -R "$uid:$uid" "$root"
mkdir -p "$tree$wine_home"
chown "$uid:$uid" "$tree$wine_home"
if ! as_user test -w "$wine_home"; then
  echo "run-wine.sh: user $uid cannot write to $wine_home, where Wine's prefix for that user lives" >&2
  exit 2
fi
# The first run makes the prefix, and another one started meanwhile waits
# for it (a run in the tree holds the tree's lock throughout).
[ -n "$tree" ] || { exec 7> "$wine_home.lock" && flock 7; }
if [ ! -f "$tree$wine_home/prefix/system.reg" ]; then
  if ! as_user "$wine" wineboot --init > "$tree$wine_home/wineboot.log" 2>&1 || ! as_user "$wineserver" -w; then
    echo "run-wine.sh: could not make the Wine prefix $tree$wine_home/prefix; wineboot said:" >&2
    cat "$tree$wine_home/wineboot.log" >&2
    exit 2
  fi
fi
[ -n "$tree" ] || exec 7>&-

# One server for the whole run, rather than one started by the harness.
[ -z "$tree" ] || as_user "$wineserver" -p
[ -n "$mode" ] && winedebug=+relay
status=0
as_user "$wine" "$root/$(basename "$harness")" "$root/$(basename "$library")" "$root" "$capture" $mode || status=$?
# Every Wine process ends with the namespaces.
exit "$status"
