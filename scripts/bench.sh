#!/usr/bin/env bash
# Measures what flushing a directory costs through the library, against
# FileChannel.force in the same JVM and against the bare system calls, on
# tmpfs (the library's own overhead) and on the disk of this working tree
# (what a real flush costs). Prints the machine and one table per place.
#   scripts/bench.sh
# Builds what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

# Directories flushed per way and round, and recorded rounds, per place: a
# flush on disk costs tens of microseconds to a millisecond, on tmpfs about one.
TMPFS_DIRS=100000 TMPFS_ROUNDS=11
DISK_DIRS=1000 DISK_ROUNDS=5

scripts/build.sh >/dev/null
cmake --preset tests >/dev/null
cmake --build --preset tests --target bench_floor bench_floor_in_jvm bench_classes >/dev/null
# BENCH_JAVA, BENCH_CLASSES, BENCH_LIBRARY, BENCH_FLOOR, BENCH_FLOOR_IN_JVM
. build/tests/bench/bench.env

tmpfs=$(mktemp -d /dev/shm/nativeflush-bench.XXXXXX)
disk=$(mktemp -d "$PWD/build/nativeflush-bench.XXXXXX")
trap 'rm -rf "$tmpfs" "$disk"' EXIT
fstype() { df --output=fstype "$1" | tail -n 1; }

echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), Linux $(uname -r)"
echo "places:  $(fstype "$tmpfs") at $tmpfs; $(fstype "$disk") at $disk"
echo "ways:    (a) forceDirectories, linux64 library, HotSpot $("$BENCH_JAVA" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *java.vm.version = //p')"
echo "         (b) FileChannel.open(dir, READ).force(true) and close, same JVM"
echo "         (c) floor: a C program's bare open/fsync/close loop"
echo "         (d) the same bare loop inside the JVM"
"$BENCH_JAVA" -cp "$BENCH_CLASSES" ForceDirectoriesBench "$BENCH_LIBRARY" "$BENCH_FLOOR" "$BENCH_FLOOR_IN_JVM" \
  "$(fstype "$tmpfs")" "$tmpfs" "$TMPFS_DIRS" "$TMPFS_ROUNDS" \
  "$(fstype "$disk")" "$disk" "$DISK_DIRS" "$DISK_ROUNDS"
