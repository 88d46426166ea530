#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Quiet and quick when all is there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

pkgs=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-apps xdotool
      imagemagick cmake ninja-build nginx-light libpalm-pdb-perl libgif-dev giflib-tools clang
      python3 nsis tidy poppler-utils procps iproute2 tzdata util-linux file libgtest-dev
      curl)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
[ ${#need[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
echo "setup: installing ${need[*]}" >&2
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
