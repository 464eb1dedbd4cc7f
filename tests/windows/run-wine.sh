#!/bin/sh
# Launcher for run-harness.sh: runs a Windows harness under Wine, as an
# unprivileged user, on the fixture tree that run-harness.sh made.
#   run-wine.sh [--relay] [--tree TREE QEMU_I386] WINE WINESERVER SETPRIV UID WINE_HOME  HARNESS LIBRARY ROOT CAPTURE_FILE
# --relay runs the harness's relay cases with Wine's relay trace on stderr.
# --tree runs the Wine of the Debian unstable tree TREE (WINE, WINESERVER,
# SETPRIV, WINE_HOME and QEMU_I386 are paths inside it), whose i386 side runs
# under qemu-i386, as this kernel runs no 32-bit code.
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
  while [ -z "$(cat /proc/self/uid_map)" ]; do sleep 0.01; done
  NATIVEFLUSH_WINE_NAMESPACE=inside exec sh "$0" "$@"
fi
winedebug=-all mode= tree= qemu=
if [ "$1" = --relay ]; then
  mode=relay
  shift
fi
if [ "$1" = --tree ]; then
  tree=$2 qemu=$3
  shift 3
fi
wine=$1 wineserver=$2 setpriv=$3 uid=$4 wine_home=$5 harness=$6 library=$7 root=$8 capture=$9

if [ -n "$tree" ] && [ -z "${NATIVEFLUSH_WINE_NAMESPACE:-}" ]; then
  ntdll=$(dirname "$wine")/i386-windows/ntdll.dll
  if [ ! -f "$tree/.nativeflush-packages" ]; then
    echo "run-wine.sh: the Debian unstable tree $tree is missing or incomplete; scripts/bootstrap.sh --sid-tree $tree makes it" >&2
    exit 2
  fi
  for file in "$wine" "$ntdll" "$qemu"; do
    if [ ! -f "$tree$file" ]; then
      echo "run-wine.sh: the Debian unstable tree $tree has no $file; unstable's wine32:i386 or qemu-user no longer provides it" >&2
      exit 2
    fi
  done
  # Everything below runs in namespaces of its own: its mounts, its
  # qemu-i386 handler for i386 programs (binfmt_misc has one table per user
  # namespace) and every Wine process end with it. The user namespace maps
  # the ids of this one, so that the unprivileged user is the same in both.
  # One run at a time uses the tree's prefix: a second run's Wine would
  # find the first one's server, which serves another PID namespace.
  exec 8> "$tree$wine_home.lock"
  flock 8
  NATIVEFLUSH_WINE_NAMESPACE=mapping unshare --user --mount --pid --fork sh "$0" ${mode:+--relay} --tree "$tree" "$qemu" "$@" &
  inner=$!
  while kill -0 "$inner" 2>/dev/null && [ "$(readlink "/proc/$inner/ns/user")" = "$(readlink /proc/self/ns/user)" ]; do
    sleep 0.01
  done
  echo "0 0 65536" > "/proc/$inner/uid_map" || true
  echo "0 0 65536" > "/proc/$inner/gid_map" || true
  status=0
  wait "$inner" || status=$?
  rmdir "$tree$root" 2>/dev/null || true
  exit "$status"
fi

run=
if [ -n "$tree" ]; then
  mount -t proc proc "$tree/proc"
  mount -t binfmt_misc binfmt_misc "$tree/proc/sys/fs/binfmt_misc"
  # i386 ELF executables, static or position-independent, go to qemu-i386;
  # F opens it now, so that it is found from inside the tree as well.
  printf '%s' ':i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$tree$qemu"':F' \
    > "$tree/proc/sys/fs/binfmt_misc/register"
  # The fixture tree, at the same path inside, so that the paths printed match.
  mkdir -p "$tree$root"
  mount --bind "$root" "$tree$root"
  run="chroot $tree"
fi

# Wine encodes file names for Linux by the locale: under plain C it cannot
# name a non-ASCII file at all. Its ANSI code page then is 1252.
as_user() {
  $run "$setpriv" --reuid="$uid" --regid="$uid" --clear-groups \
    env -i --chdir="$PWD" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$wine_home" WINEPREFIX="$wine_home/prefix" WINEDEBUG="$winedebug" \
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
if [ ! -f "$tree$wine_home/prefix/system.reg" ]; then
  if ! as_user "$wine" wineboot --init > "$tree$wine_home/wineboot.log" 2>&1 || ! as_user "$wineserver" -w; then
    echo "run-wine.sh: could not make the Wine prefix $tree$wine_home/prefix; wineboot said:" >&2
    cat "$tree$wine_home/wineboot.log" >&2
    exit 2
  fi
fi

# One server for the whole run, rather than one started by the harness.
[ -z "$tree" ] || as_user "$wineserver" -p
[ -n "$mode" ] && winedebug=+relay
status=0
as_user "$wine" "$root/$(basename "$harness")" "$root/$(basename "$library")" "$root" "$capture" $mode || status=$?
# Every Wine process ends with the namespaces.
exit "$status"
