#!/usr/bin/env bash
# The crash experiment: what forceDirectories keeps after a power cut, on
# ext4, xfs and btrfs, in an emulated machine whose disk logs every write
# (bench/durability.py says how). Prints one table; exits 1 when a name was
# lost after the call returned true. Not a test: scripts/test.sh never runs it.
#   scripts/durability.sh               the library, 30 trials per workload
#   scripts/durability.sh --no-flush    a stand-in that flushes nothing: must fail
#   scripts/durability.sh --trials 5    fewer trials
# With --faults, the disk fails under the file system instead; exits 1 when
# the first call under the fault is not false with the flush-failed line, or
# a call said true where the kernel's own fsync failed.
#   scripts/durability.sh --faults                  the library
#   scripts/durability.sh --faults --ignore-errors  a stand-in that drops fsync's failures: must fail
# Installs and builds what it needs first; keeps its disks and logs in
# build/durability.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh >/dev/null
cmake --preset tests >/dev/null
cmake --build --preset tests --target durability_noflush durability_ignore_errors bench_classes >/dev/null
set -a
. build/tests/bench/durability.env
set +a
scripts/bootstrap.sh --durability "$DURABILITY_KERNEL"
exec python3 bench/durability.py "$@" build/durability
