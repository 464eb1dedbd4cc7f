#!/usr/bin/env bash
# Installs every package that building and testing nativeflush needs on Debian 12.
# This is the only place packages are named. Idempotent: installs only what is missing.
set -euo pipefail

# i386 packages need the foreign architecture; the emulated JVM is the only one.
PACKAGES=(
  # compilers and linkers for the five deliverables
  cmake g++ clang lld llvm gcc-multilib g++-multilib g++-mingw-w64
  # running 32-bit and Windows code on this x86-64 host
  qemu-user wine wine64
  # Java: the amd64 JDK for compiling test classes, the i386 JVM for linux32
  openjdk-17-jdk-headless openjdk-17-jre-headless:i386
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
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }
echo "bootstrap: installing ${missing[*]}" >&2
apt_get update -qq
# Recommends would pull wine32:i386, which takes over /usr/bin/wine and cannot run here.
apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
