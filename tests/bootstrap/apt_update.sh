#!/usr/bin/env bash
# Runs bootstrap's apt_update on a source list whose archive is a path that
# does not exist, with apt's lists, cache and sources in a scratch folder, so
# that the machine's own apt state is not touched: every try fails.
#   apt_update.sh BOOTSTRAP
set -u
work=$(mktemp -d /tmp/nativeflush-harness.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts"
echo "deb file:$work/no-archive bookworm main" > "$work/sources.list"
source "$1"
APT_PAUSE=0
apt_update "$work/apt.log" apt_get -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts="$work/parts" \
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root
