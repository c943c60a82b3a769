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
set +e
build/release/app/kestrune "$out/in.wav" "$out/out.csv"
code=$?
set -e
echo
echo "exit code: $code"
