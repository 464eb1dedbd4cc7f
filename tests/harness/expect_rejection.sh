#!/bin/sh
# Runs a command that must refuse what it is given, and compares its exit
# status and its whole stderr with what the refusal must say.
#   expect_rejection.sh STATUS MESSAGE COMMAND...
# MESSAGE is a shell pattern, so that a * can stand for what differs from run
# to run, such as the fixture root.
set -u
status=$1 message=$2
shift 2
found=$("$@" 2>&1 >/dev/null)
code=$?
# A Windows program's stderr ends its lines in \r\n.
found=$(printf '%s\n' "$found" | tr -d '\r')
# shellcheck disable=SC2254
case $found in
  $message) [ "$code" -eq "$status" ] && { printf 'refused as expected: %s\n' "$found"; exit 0; } ;;
esac
printf 'expected exit status %s and stderr:\n%s\nfound exit status %s and stderr:\n%s\n' \
  "$status" "$message" "$code" "$found" >&2
exit 1
