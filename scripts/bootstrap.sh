#!/usr/bin/env bash
# Installs every package that building and testing nativeflush needs on Debian 12.
# This is the only place packages are named. Idempotent: installs only what is missing.
#   scripts/bootstrap.sh                 the packages of this machine
#   scripts/bootstrap.sh --sid-tree DIR  also DIR, a Debian unstable tree for the tests
set -euo pipefail

# A package named <name>:<arch> comes from that foreign architecture, which
# is added first.
PACKAGES=(
  # compilers and linkers for the deliverables
  cmake g++ clang lld llvm gcc-multilib g++-multilib g++-mingw-w64
  # Windows on ARM: linked by lld 16, as lld 14's export table is wrong there
  lld-16
  # the arm64 C library that clang builds AArch64 code against: Debian's
  # AArch64 cross GCC cannot be installed beside gcc-multilib
  libc6-dev:arm64
  # running 32-bit, AArch64 and Windows code on this x86-64 host
  qemu-user wine wine64
  # Java: the amd64 JDK for compiling test classes, the i386 and arm64 JVMs
  openjdk-17-jdk-headless openjdk-17-jre-headless:i386 openjdk-17-jre-headless:arm64
  # checks and tests
  python3 python3-macholib binutils file strace util-linux debootstrap
)

# A Debian unstable tree, for tests that need what Debian 12 lacks: a JDK
# newer than 17, and a Wine whose i386 side runs under qemu-i386 (the win32
# DLL's tests; this kernel runs no 32-bit code itself). Recommends would add
# a desktop's worth of packages.
SID_MIRROR=http://deb.debian.org/debian
SID_PACKAGES=(openjdk-25-jre-headless qemu-user wine32:i386)

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }

install_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
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
  apt_get update -qq
  # Recommends would pull wine32:i386, which takes over /usr/bin/wine and cannot run here.
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Makes the unstable tree at $1, or completes it. Each stage leaves a marker
# when it is done: a tree without the first was cut short and is made again
# from nothing; the second lists the packages installed, so that a change to
# SID_PACKAGES installs what is new. Everything that mounts (debootstrap,
# dpkg scripts) runs in a mount namespace of its own, so an interrupted run
# leaves nothing mounted.
make_sid_tree() {
  local tree=$1 log=$1.log
  local base=$tree/.nativeflush-base packages=$tree/.nativeflush-packages
  [ "$(cat "$packages" 2>/dev/null)" = "${SID_PACKAGES[*]}" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: the Debian unstable tree $tree is missing or incomplete; run as root to make it" >&2
    exit 1
  fi
  mkdir -p "$(dirname "$tree")"
  exec 9>"$tree.lock"
  flock 9  # another run may be making it right now
  [ "$(cat "$packages" 2>/dev/null)" = "${SID_PACKAGES[*]}" ] && return 0
  if [ ! -f "$base" ]; then
    if findmnt -rno TARGET | grep -q "^$tree/"; then
      echo "bootstrap: something is mounted under $tree; unmount it, then run again" >&2
      exit 1
    fi
    rm -rf --one-file-system "$tree"
    echo "bootstrap: making the Debian unstable tree $tree (a few minutes; log in $log)" >&2
    if ! unshare --mount debootstrap --variant=minbase sid "$tree" "$SID_MIRROR" > "$log" 2>&1; then
      echo "bootstrap: cannot make the Debian unstable tree $tree: debootstrap of sid from $SID_MIRROR failed (no network to the archive?); the end of $log:" >&2
      tail -n 5 "$log" >&2
      exit 1
    fi
    touch "$base"
  fi
  local in_tree=(unshare --mount --pid --fork --mount-proc="$tree/proc" chroot "$tree" env DEBIAN_FRONTEND=noninteractive)
  # The archive's unstable Release file may be past its Valid-Until date.
  if ! "${in_tree[@]}" dpkg --add-architecture i386 ||
     ! "${in_tree[@]}" apt-get -o Acquire::Check-Valid-Until=false update >> "$log" 2>&1 ||
     ! "${in_tree[@]}" apt-get install -y --no-install-recommends "${SID_PACKAGES[@]}" >> "$log" 2>&1; then
    echo "bootstrap: cannot install ${SID_PACKAGES[*]} in the Debian unstable tree $tree from $SID_MIRROR; the end of $log:" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
  "${in_tree[@]}" apt-get clean
  echo "${SID_PACKAGES[*]}" > "$packages"
}

install_packages
case "${1:-}" in
  "") ;;
  --sid-tree) make_sid_tree "${2:?bootstrap: --sid-tree needs a directory}" ;;
  *) echo "usage: $0 [--sid-tree DIR]" >&2; exit 2 ;;
esac
