#!/bin/sh
# Launcher for run-harness.sh: runs a Windows x86-64 harness under Wine, as
# an unprivileged user, on the fixture tree that run-harness.sh made.
#   run-wine.sh [--relay] WINE64 WINESERVER64 SETPRIV UID WINE_HOME  HARNESS LIBRARY ROOT CAPTURE_FILE
# --relay runs the harness's relay cases with Wine's relay trace on stderr.
#
# Root would open a read-only file for writing, so Wine runs as user UID. Its
# prefix, WINE_HOME/prefix, is made on the first run (about 10 s, and Wine
# copies some 700 MB of DLLs into it) and reused after that. Wine needs the
# prefix to belong to the user who runs it. The fixture tree is given to that
# user, with copies of the harness and the library, as their own directories
# may be closed to it.
set -eu
winedebug=-all mode=
if [ "$1" = --relay ]; then
  mode=relay
  shift
fi
wine64=$1 wineserver=$2 setpriv=$3 uid=$4 wine_home=$5 harness=$6 library=$7 root=$8 capture=$9

# Wine encodes file names for Linux by the locale: under plain C it cannot
# name a non-ASCII file at all. Its ANSI code page then is 1252.
as_user() {
  "$setpriv" --reuid="$uid" --regid="$uid" --clear-groups \
    env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$wine_home" WINEPREFIX="$wine_home/prefix" WINEDEBUG="$winedebug" \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" "$@"
}

mkdir -p "$wine_home"
chown "$uid:$uid" "$wine_home"
if ! as_user test -w "$wine_home"; then
  echo "run-wine.sh: user $uid cannot write to $wine_home, where Wine's prefix for that user lives" >&2
  exit 2
fi
if [ ! -f "$wine_home/prefix/system.reg" ]; then
  if ! as_user "$wine64" wineboot --init > "$wine_home/wineboot.log" 2>&1 || ! as_user "$wineserver" -w; then
    echo "run-wine.sh: could not make the Wine prefix $wine_home/prefix; wineboot said:" >&2
    cat "$wine_home/wineboot.log" >&2
    exit 2
  fi
fi

cp "$harness" "$library" "$root/"
chown -R "$uid:$uid" "$root"
[ -n "$mode" ] && winedebug=+relay
as_user "$wine64" "$root/$(basename "$harness")" "$root/$(basename "$library")" "$root" "$capture" $mode
