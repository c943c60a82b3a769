#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kestrune need, only
# those that are missing. Pass "build" to install just the build tools.
set -euo pipefail

build_pkgs=(cmake ninja-build g++ make)
test_pkgs=(clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev gnuplot-nox
           binutils mpg123 lame ffmpeg sox vorbis-tools
           libogg0 libvorbis0a libvorbisenc2 libvorbisfile3 libogg-dev libvorbis-dev)

want=("${build_pkgs[@]}")
if [ "${1:-test}" != build ]; then
  want+=("${test_pkgs[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
fi
