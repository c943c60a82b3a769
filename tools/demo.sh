#!/usr/bin/env bash
# Builds the release binary (incrementally after the first time) and runs a
# conversion on an input made here: one second of a stereo 440 Hz tone as
# CSV text, converted to a WAVE file.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh build
cmake --preset release >/dev/null
cmake --build --preset release --target kestrune
bin="$PWD/build/release/app/kestrune"

out="${TMPDIR:-/tmp}/kestrune-demo"
mkdir -p "$out"
cd "$out"
rm -f tone.wav
awk 'BEGIN {
  for (i = 0; i < 44100; i++) {
    v = 0.5 * sin(2 * 3.14159265358979 * 440 * i / 44100)
    printf "%f,%f\r\n", v, -v
  }
}' > tone.csv

echo
echo "\$ kestrune            (no file names)"
code=0
"$bin" </dev/null || code=$?
echo
echo "exit code: $code"

echo
echo "\$ cd $out && kestrune tone.csv tone.wav -s44100 -b16"
code=0
"$bin" tone.csv tone.wav -s44100 -b16 </dev/null || code=$?
echo
echo "exit code: $code"
if [ "$code" -eq 0 ]; then
  echo "input:  $out/tone.csv"
  echo "output: $out/tone.wav ($(stat -c %s tone.wav) bytes)"
else
  echo "no output was written (this build has no conversion for .csv yet)"
fi
