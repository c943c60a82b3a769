#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kestrune need, only
# those that are missing, in one apt-get run. Takes the package sets to
# install; the build tools always come along:
#   build     the build tools alone
#   test      the tests on Linux: libraries, sanitizers, reference tools (default)
#   windows   the mingw-w64 cross build and Wine, for tools/test-windows.sh
set -euo pipefail

build_pkgs=(cmake ninja-build g++ make)
test_pkgs=(clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev gnuplot-nox
           binutils mpg123 lame ffmpeg sox vorbis-tools
           libogg0 libvorbis0a libvorbisenc2 libvorbisfile3 libogg-dev libvorbis-dev)
# googletest: its sources are built with the cross compiler; sox makes the
# input of the Linux-against-Windows comparison.
windows_pkgs=(g++-mingw-w64-x86-64-posix wine64 wine googletest sox)

want=("${build_pkgs[@]}")
for set in "${@:-test}"; do
  case "$set" in
    build) ;;
    test) want+=("${test_pkgs[@]}") ;;
    windows) want+=("${windows_pkgs[@]}") ;;
    *)
      echo "usage: $0 [build|test|windows]..." >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  # A package named by two sets is installed once.
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
fi
