#!/bin/sh
# Runs a command that must refuse what it is given, and compares its exit
# status and its whole stderr with what the refusal must say.
#   expect_rejection.sh STATUS MESSAGE COMMAND...
set -u
status=$1 message=$2
shift 2
found=$("$@" 2>&1 >/dev/null)
code=$?
if [ "$code" -ne "$status" ] || [ "$found" != "$message" ]; then
  printf 'expected exit status %s and stderr:\n%s\nfound exit status %s and stderr:\n%s\n' \
    "$status" "$message" "$code" "$found" >&2
  exit 1
fi
printf 'refused as expected: %s\n' "$found"
