#!/bin/sh
# Runs a command that must refuse what it is given, and compares its exit
# status and its whole stderr with what the refusal must say.
#   expect_rejection.sh STATUS MESSAGE COMMAND...
# A fixture root that run-harness.sh made, which differs from run to run, is
# compared as {root}.
set -u
status=$1 message=$2
shift 2
found=$("$@" 2>&1 >/dev/null)
code=$?
# A Windows program's stderr ends its lines in \r\n.
found=$(printf '%s\n' "$found" | tr -d '\r' | sed 's#/tmp/nativeflush-harness\.[A-Za-z0-9]*#{root}#g')
if [ "$code" -ne "$status" ] || [ "$found" != "$message" ]; then
  printf 'expected exit status %s and stderr:\n%s\nfound exit status %s and stderr:\n%s\n' \
    "$status" "$message" "$code" "$found" >&2
  exit 1
fi
printf 'refused as expected: %s\n' "$found"
