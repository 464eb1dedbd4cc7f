#!/usr/bin/env bash
# Installs every package that building and testing nativeflush needs on Debian 12.
# This is the only place packages are named. Idempotent: installs only what is missing.
#   scripts/bootstrap.sh             the packages of this machine
#   scripts/bootstrap.sh --tree DIR  also DIR, the Debian 13 tree below
#   scripts/bootstrap.sh --wine-arm64-tree DIR  also DIR, the tree of Wine for Windows on ARM
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

# A Debian 13 "trixie" tree, for what Debian 12 lacks: HotSpot 25, and an
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
)

# Wine for Windows on ARM, in a Debian 12 tree of its own: trixie's arm64
# Wine 10 crashes under qemu-aarch64 in every process it starts (a nested
# fault on the signal stack), and Debian 12's wine64:arm64 cannot be
# installed beside this machine's wine64.
WINE_ARM64_TREE_RELEASE=bookworm
WINE_ARM64_TREE_PACKAGES=(
  qemu-user=1:7.2+dfsg-7+deb12u18+b3
  wine64:arm64=8.0~repack-4
)

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

# Makes the tree at $1, or completes it. Each stage leaves a marker when it
# is done: a tree without the first was cut short and is made again from
# nothing; the second lists the packages installed, so that a change to
# TREE_PACKAGES installs what is new. Everything that mounts (debootstrap,
# dpkg scripts) runs in a mount namespace of its own, so an interrupted run
# leaves nothing mounted.
make_tree() {
  local tree=$1 log=$1.log
  local base=$tree/.nativeflush-base packages=$tree/.nativeflush-packages
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
  check_tree_versions "$tree"
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
  if ! "${in_tree[@]}" apt-get update >> "$log" 2>&1; then
    echo "bootstrap: cannot read the package lists of $TREE_RELEASE from $TREE_MIRROR into $tree; the end of $log:" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
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
check_tree_versions() {
  local tree=$1 entry name installed
  for entry in "${TREE_PACKAGES[@]}"; do
    name=${entry%%=*}
    installed=$(dpkg-query --admindir="$tree/var/lib/dpkg" -W -f='${Version}' "$name" 2>/dev/null || true)
    [ "$installed" = "${entry#*=}" ] ||
      echo "bootstrap: NOTE: the tree $tree holds $name ${installed:-(not installed)}; the suite was last run with ${entry#*=} (TREE_PACKAGES in $0)" >&2
  done
}

install_packages
case "${1:-}" in
  "") ;;
  --tree) make_tree "${2:?bootstrap: --tree needs a directory}" ;;
  --wine-arm64-tree)
    TREE_RELEASE=$WINE_ARM64_TREE_RELEASE TREE_PACKAGES=("${WINE_ARM64_TREE_PACKAGES[@]}")
    make_tree "${2:?bootstrap: --wine-arm64-tree needs a directory}" ;;
  *) echo "usage: $0 [--tree DIR | --wine-arm64-tree DIR]" >&2; exit 2 ;;
esac
