#!/usr/bin/env bash
# Builds every deliverable into dist/, with SHA256SUMS, from a fresh Debian 12
# machine: installs what is missing first.
#   scripts/build.sh            all deliverables
#   scripts/build.sh linux64    only the named presets
set -euo pipefail
cd "$(dirname "$0")/.."

# The packages (cmake among them), then the Debian 13 tree that some
# deliverables and tests need.
scripts/bootstrap.sh
scripts/bootstrap.sh --tree "$(cmake -D print=NATIVEFLUSH_TREE -P cmake/externals.cmake)"
scripts/bootstrap.sh --wine-arm64-tree "$(cmake -D print=NATIVEFLUSH_WINE_ARM64_TREE -P cmake/externals.cmake)"

# preset <TAB> target <TAB> file <TAB> exported name, one line per deliverable
mapfile -t entries < <(cmake -P cmake/list-deliverables.cmake)
wanted=("$@")

rm -rf dist
mkdir -p dist
built=()
for entry in "${entries[@]}"; do
  IFS=$'\t' read -r preset target file export <<<"$entry"
  if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $preset "* ]]; then continue; fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --parallel >/dev/null
  cp "build/$preset/$file" dist/
  built+=("$entry")
done
[ ${#built[@]} -gt 0 ] || { echo "build.sh: no deliverable named $*" >&2; exit 2; }

(cd dist && sha256sum -- * > SHA256SUMS)

# The version that project() in CMakeLists.txt sets, as a build just read it.
IFS=$'\t' read -r preset _ <<<"${built[0]}"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
echo "nativeflush $version"
printf '%-24s %-15s %-36s %8s\n' deliverable target file bytes
for entry in "${built[@]}"; do
  IFS=$'\t' read -r preset target file export <<<"$entry"
  printf '%-24s %-15s %-36s %8s\n' "nativeflush_$preset" "$target" "dist/$file" "$(stat -c %s "dist/$file")"
done
