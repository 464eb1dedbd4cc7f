#!/bin/sh
# Launcher for run-harness.sh: runs a Windows harness under Wine, as an
# unprivileged user, on the fixture tree that run-harness.sh made; or with
# --java, the JAVA command of tests/jvm/jvm_cases.py: java.exe with
# ARGUMENTS, in the working folder, whose fixtures the user owns.
#   run-wine.sh [--relay] [--tree TREE QEMU WAY] WINE WINESERVER SETPRIV UID WINE_HOME  HARNESS LIBRARY ROOT CAPTURE_FILE
#   run-wine.sh --java [--tree TREE QEMU WAY] WINE WINESERVER SETPRIV UID WINE_HOME  JAVA_EXE [ARGUMENTS...]
# --relay runs the harness's relay cases with Wine's relay trace on stderr.
# --tree runs the Wine of the Debian tree TREE, chrooted into it through
# scripts/in-tree.sh (WINE, WINESERVER, SETPRIV, WINE_HOME and QEMU are paths
# inside it); QEMU and WAY are as that script takes them.
#
# Root would open a read-only file for writing, so Wine runs as user UID. Its
# prefix, WINE_HOME/prefix, is made on the first run (about 10 s, and Wine
# copies some 700 MB of DLLs into it; under qemu-i386 about 20 s) and reused
# after that. Wine needs the prefix to belong to the user who runs it. The
# fixture tree is given to that user, with copies of the harness and the
# library, as their own directories may be closed to it.
set -eu
winedebug=-all mode= tree= qemu= way=
if [ "$1" = --relay ] || [ "$1" = --java ]; then
  mode=${1#--}
  shift
fi
if [ "$1" = --tree ]; then
  tree=$2 qemu=$3 way=$4
  shift 4
fi
wine=$1 wineserver=$2 setpriv=$3 uid=$4 wine_home=$5
if [ "$mode" = java ]; then
  # The tree must see the JVM's runtime (JAVA_EXE's bin/..) too.
  root=$PWD binds=$PWD:${6%/bin/*}
else
  harness=$6 library=$7 root=$8 capture=$9 binds=$8
fi

run=
if [ -n "$tree" ] && [ -z "${NATIVEFLUSH_WINE_IN_TREE:-}" ]; then
  if [ ! -f "$tree/.nativeflush-packages" ]; then
    echo "run-wine.sh: the Debian tree $tree is missing or incomplete; scripts/bootstrap.sh --trees makes it" >&2
    exit 2
  fi
  for file in "$wine" "$wineserver"; do
    if [ ! -f "$tree$file" ]; then
      echo "run-wine.sh: the Debian tree $tree has no $file; see TREE_PACKAGES in scripts/bootstrap.sh" >&2
      exit 2
    fi
  done
  # One run at a time uses the tree's prefix: a second run's Wine would
  # find the first one's server, which serves another PID namespace. In the
  # tree, the fixture tree is at the same path, so that the paths printed match.
  exec 8> "$tree$wine_home.lock"
  flock 8
  NATIVEFLUSH_WINE_IN_TREE=1 exec sh "$(dirname "$0")/../../scripts/in-tree.sh" "$tree" "$qemu" "$way" "$binds" \
    sh "$0" ${mode:+--$mode} --tree "$tree" "$qemu" "$way" "$@"
elif [ -n "$tree" ]; then
  run="chroot $tree"
fi

# Wine encodes file names for Linux by the locale: under plain C it cannot
# name a non-ASCII file at all. Its ANSI code page then is 1252. Wine 10's
# desktop would try Wayland first, and say on stderr that there is none.
as_user() {
  $run "$setpriv" --reuid="$uid" --regid="$uid" --clear-groups \
    env -i --chdir="$PWD" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$wine_home" WINEPREFIX="$wine_home/prefix" WINESERVER="$wineserver" WINEDEBUG="$winedebug" \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe,winewayland.drv=" "$@"
}

[ "$mode" = java ] || { cp "$harness" "$library" "$root/" && chown -R "$uid:$uid" "$root"; }
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
[ "$mode" = relay ] && winedebug=+relay
status=0
if [ "$mode" = java ]; then
  # The first process of a server starts Wine's services, which keep its
  # output open: a pipe would be read to its end only when they exit. So
  # the JVM writes into files, copied out when it ends. -XX:-PrintWarnings
  # silences HotSpot's warnings that it cannot read Wine's process group
  # affinity.
  shift 5
  java=$1 out=$(mktemp) err=$(mktemp)
  shift
  as_user "$wine" "$java" -XX:-PrintWarnings "$@" > "$out" 2> "$err" || status=$?
  cat "$out" && cat "$err" >&2 && rm "$out" "$err"
  exit "$status"
fi
as_user "$wine" "$root/$(basename "$harness")" "$root/$(basename "$library")" "$root" "$capture" $mode || status=$?
# Every Wine process ends with the namespaces.
exit "$status"
