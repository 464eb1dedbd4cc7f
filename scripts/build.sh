#!/usr/bin/env bash
# Builds every deliverable into dist/, with SHA256SUMS, from a fresh Debian 12
# machine: installs what is missing first.
#   scripts/build.sh            all deliverables
#   scripts/build.sh linux64    only the named presets
set -euo pipefail
cd "$(dirname "$0")/.."

# The packages, and the Debian trees that some deliverables and tests need.
scripts/bootstrap.sh --trees

# The presets come from the rows; a stale file would build what they no longer say.
cmake -D CHECK=ON -P cmake/write-presets.cmake

# preset <TAB> target <TAB> file <TAB> exported name <TAB> JVMs, one line per deliverable
mapfile -t entries < <(cmake -P cmake/list-deliverables.cmake)
wanted=("$@")

rm -rf dist
mkdir -p dist
built=()
for entry in "${entries[@]}"; do
  IFS=$'\t' read -r preset target file _ <<<"$entry"
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

# The jar for Java teams: the files listed so far, with the class that checks
# an extracted copy against these hashes; then its own hash.
jar=nativeflush-$version.jar
cmake -DDIST=dist -DWORK=build/jar -DVERSION="$version" -P cmake/jar.cmake
(cd dist && sha256sum -- "$jar" >> SHA256SUMS)
# The same jar in a Maven repository, with its POM, sources and javadoc, for
# build tools to resolve as org.movrek:nativeflush:<version>; and the SBOM,
# there and in dist/.
cmake -DDIST=dist -DWORK=build/jar -DVERSION="$version" -P cmake/maven.cmake
(cd dist && sha256sum -- "nativeflush-$version.cdx.json" >> SHA256SUMS)
# Last, how dist/ was made: every file above with its SHA-256, this command
# and the source's commit.
provenance=dist/nativeflush-$version.intoto.json
"$(cmake -D print=NATIVEFLUSH_PYTHON -P cmake/externals.cmake)" -B tools/release_records.py provenance \
  dist nativeflush "$version" scripts/build.sh "$@"
cmake -DWHAT="$provenance" -DFILES="$provenance" -P cmake/sign.cmake

echo "nativeflush $version"
printf '%-24s %-15s %-36s %8s\n' deliverable target file bytes
for entry in "${built[@]}"; do
  IFS=$'\t' read -r preset target file _ <<<"$entry"
  printf '%-24s %-15s %-36s %8s\n' "nativeflush_$preset" "$target" "dist/$file" "$(stat -c %s "dist/$file")"
done
printf '%-24s %-15s %-36s %8s\n' "$jar" Java "dist/$jar" "$(stat -c %s "dist/$jar")"
echo "dist/: its SBOM nativeflush-$version.cdx.json and provenance nativeflush-$version.intoto.json"
echo "dist/maven/: a Maven repository of $(find dist/maven -type f | wc -l) files, org.movrek:nativeflush:$version"
