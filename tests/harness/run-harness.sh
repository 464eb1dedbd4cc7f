#!/bin/sh
# Makes a fresh fixture tree and runs a harness in it:
#   run-harness.sh HARNESS LIBRARY [LAUNCHER...]
# The fixture root holds directories a, b and c, a regular file named file and
# a symbolic link named dangling whose target does not exist;
# it is also the working directory, for the relative-path case.
set -eu
harness=$1 library=$2
shift 2
root=$(mktemp -d /tmp/nativeflush-harness.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir "$root/a" "$root/b" "$root/c"
: > "$root/file"
ln -s "$root/nowhere" "$root/dangling"
cd "$root"
"$@" "$harness" "$library" "$root" "$root/stdout"
