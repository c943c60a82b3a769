#!/usr/bin/env bash
# Cross-builds the Windows executable and its tests with mingw-w64 and runs
# them under Wine: the unit tests and the end-to-end tests, without those
# labelled "slow". Installs the cross compiler and Wine when they are
# missing. Uses its own Wine prefix (build/wine-prefix, made anew each run)
# and one wineserver for the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh windows

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
# Every test takes seconds. Under Wine on a loaded machine a process has,
# rarely, not come back from its exit (a test binary after all of its tests
# had passed, or a program started by a test), so each test gets 120 s
# (tests/CMakeLists.txt) and one more try (the preset): such a hang then
# costs two minutes instead of ten. A test that fails twice fails the run.
ctest --preset windows -j "$jobs" "$@" || status=1

# The same bytes on both platforms: every MPEG compliance stream decoded,
# and one WAVE file encoded at two settings, by the Linux and the Windows
# program.
echo "== the Linux and the Windows program give the same bytes =="
linux=build/release/app/kestrune
windows=build/windows/app/kestrune.exe
if [ ! -x "$linux" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target kestrune -j "$jobs"
fi
shared="$PWD/../shared"
work=$(mktemp -d)
pass=0
fail=0
same() {  # label, Linux output, Windows output; both absent is the same
  if { [ ! -e "$2" ] && [ ! -e "$3" ]; } || { [ -e "$2" ] && cmp -s "$2" "$3"; }; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    echo "differs: $1"
  fi
}
vectors=("$shared"/vectors/mpeg/*.bit)
if [ ! -e "${vectors[0]}" ]; then
  echo "missing: $shared/vectors/mpeg/*.bit"
  fail=$((fail + 1))
fi
for bit in "${vectors[@]}"; do
  [ -e "$bit" ] || continue
  name=$(basename "$bit" .bit)
  cp "$bit" "$work/in.mp3"
  (cd "$work" && "$OLDPWD/$linux" in.mp3 linux.wav >/dev/null 2>&1) || true
  (cd "$work" && /usr/lib/wine/wine64 "$OLDPWD/$windows" in.mp3 windows.wav >/dev/null 2>&1) || true
  same "decode $name" "$work/linux.wav" "$work/windows.wav"
  rm -f "$work"/*.wav
done
sox -R -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 3 sine 440 sine 1250 vol 0.8
for option in "" "-b192"; do
  (cd "$work" && "$OLDPWD/$linux" in.wav linux.mp3 $option >/dev/null 2>&1) || true
  (cd "$work" && /usr/lib/wine/wine64 "$OLDPWD/$windows" in.wav windows.mp3 $option \
     >/dev/null 2>&1) || true
  [ -s "$work/linux.mp3" ] || echo "no MP3 from: kestrune in.wav out.mp3 $option"
  same "encode ${option:-default}" "$work/linux.mp3" "$work/windows.mp3"
  rm -f "$work"/*.mp3
done
rm -rf "$work"
echo "same bytes: $pass passed, $fail failed"
[ "$fail" -eq 0 ] || status=1
exit "$status"
