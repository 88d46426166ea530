#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Quiet and quick when all is there.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../tests/harness/machine.sh"

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

# tinyproxy-bin is tinyproxy without the service its other package starts: the tests run their own.
# Both Windows builds are compiled everywhere (the 32-bit one ships); 64-bit Wine runs the 64-bit
# test build on every machine, 32-bit Wine only where the kernel runs 32-bit code.
pkgs=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix
      binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-apps xdotool
      imagemagick cmake ninja-build nginx-light libpalm-pdb-perl libgif-dev giflib-tools clang
      python3 nsis tidy poppler-utils procps iproute2 tzdata util-linux file libgtest-dev
      curl openssl tinyproxy-bin)
runs32=no
if zlv_runs_32bit_code; then runs32=yes; pkgs+=(wine32:i386); fi
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
[ ${#need[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
if [ $runs32 = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
echo "setup: installing ${need[*]}" >&2
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
