#!/usr/bin/env bash
# Runs the whole test suite through CTest, from a fresh Debian 12 machine:
# installs what is missing, builds every deliverable into dist/, builds the
# test programs, then tests the files in dist/.
#   scripts/test.sh              everything
#   scripts/test.sh -L abi       extra arguments go to ctest
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
cmake --preset tests >/dev/null
cmake --build --preset tests --parallel >/dev/null
ctest --preset tests "$@"
