#!/bin/sh
# Builds every deliverable from two copies of the source tree at different
# absolute paths (of different lengths) and requires dist/ to be identical,
# byte for byte, SHA256SUMS included.
#   build-twice.sh SOURCE_TREE
# The copies hold the files git tracks, as they are in the working tree, in
# a clone at the source's commit: the provenance names that commit, and the
# work tree clean only if the source's tracked files are.
set -eu
source=$1
work=$(mktemp -d /tmp/nativeflush-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
for copy in "$work/one" "$work/a-longer-second-path/two"; do
  mkdir -p "$(dirname "$copy")"
  git clone -q --shared --no-checkout "$source" "$copy"
  git -C "$copy" checkout -q --detach "$(git -C "$source" rev-parse HEAD)"
  git -C "$source" ls-files -z | (cd "$source" && tar --null -T - -cf -) | tar -C "$copy" -xf -
  "$copy/scripts/build.sh" >/dev/null
done
cat "$work/one/dist/SHA256SUMS"
[ -d "$work/one/dist/maven" ] || { echo "build.sh made no dist/maven/ in $work/one" >&2; exit 1; }
if diff -r "$work/one/dist" "$work/a-longer-second-path/two/dist"; then
  echo "identical: $(find "$work/one/dist" -type f | wc -l) files, dist/maven/ included"
else
  echo "dist/ differs between the two builds" >&2
  exit 1
fi
