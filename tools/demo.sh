#!/usr/bin/env bash
# Builds the release binary (incrementally) and runs one real conversion on an
# input made here.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build
cmake --preset release >/dev/null
cmake --build --preset release --target kestrune -j "$(nproc)"
out="${TMPDIR:-/tmp}/kestrune-demo"
mkdir -p "$out"
k=build/release/app/kestrune
# A one-second stereo tone as CSV text (one line per frame), made into a
# WAVE file, converted to CSV and back; the two WAVE files must match.
awk 'BEGIN { for (i = 0; i < 44100; i++) { printf "%s%.6f,%.6f", (i ? "\r\n" : ""),
      0.5 * sin(6.283185307 * 440 * i / 44100), 0.25 * sin(6.283185307 * 660 * i / 44100) } }' \
  >"$out/tone.csv"
set +e
"$k" "$out/tone.csv" "$out/in.wav" && echo && "$k" "$out/in.wav" "$out/out.csv" && echo &&
  "$k" "$out/out.csv" "$out/back.wav"
code=$?
set -e
echo
echo "exit code: $code"
if [ "$code" -eq 0 ] && cmp -s "$out/in.wav" "$out/back.wav"; then
  echo "WAVE -> CSV -> WAVE gave identical samples: $out/in.wav, $out/out.csv, $out/back.wav"
else
  echo "round trip failed (outputs in $out)"
  exit 1
fi
