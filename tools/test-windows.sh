#!/usr/bin/env bash
# Cross-builds the Windows executable and its tests with mingw-w64 and runs
# them under Wine: the unit tests and the end-to-end tests, without those
# labelled "slow". Installs the cross compiler and Wine when they are
# missing. Uses its own Wine prefix (build/wine-prefix, made anew each run)
# and one wineserver for the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for p in g++-mingw-w64-x86-64-posix wine64 wine; do
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

jobs=$(nproc)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# No display: a message box then fails at once instead of waiting for a
# click. No debugger: a crash ends the process instead of dumping a
# backtrace into its standard output.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=;mshtml="
export WINEPREFIX="$PWD/build/wine-prefix"
export WINEARCH=win64
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"

# One persistent wineserver for all tests: without it every test process
# starts and stops a server of its own (seconds each).
wineserver -p
stop_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
trap stop_server EXIT
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true

status=0
ctest --preset windows -j "$jobs" "$@" || status=1
exit "$status"
