#!/usr/bin/env bash
# Installs every package that building and testing nativeflush needs on Debian 12.
# This is the only place packages are named. Idempotent: installs only what is missing.
set -euo pipefail

# A package named <name>:<arch> comes from that foreign architecture, which
# is added first.
PACKAGES=(
  # compilers and linkers for the deliverables
  cmake g++ clang lld llvm gcc-multilib g++-multilib g++-mingw-w64
  # the arm64 C library that clang builds AArch64 code against: Debian's
  # AArch64 cross GCC cannot be installed beside gcc-multilib
  libc6-dev:arm64
  # running 32-bit, AArch64 and Windows code on this x86-64 host
  qemu-user wine wine64
  # Java: the amd64 JDK for compiling test classes, the i386 and arm64 JVMs
  openjdk-17-jdk-headless openjdk-17-jre-headless:i386 openjdk-17-jre-headless:arm64
  # checks and tests
  python3 python3-macholib binutils file strace util-linux
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^.*://p' | sort -u); do
  dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
done
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }
echo "bootstrap: installing ${missing[*]}" >&2
apt_get update -qq
# Recommends would pull wine32:i386, which takes over /usr/bin/wine and cannot run here.
apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
