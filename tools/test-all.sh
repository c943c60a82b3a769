#!/usr/bin/env bash
# Installs what the tests need, builds every configuration and runs every
# test: the release build, the fuzz targets (clang + libFuzzer, each for its
# time budget) and the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh test

jobs=$(nproc)
status=0

echo "== release build and tests =="
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs" || status=1

echo "== fuzz targets =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j "$jobs" || status=1

echo "== Windows cross build and tests under Wine =="
tools/test-windows.sh || status=1

echo "== sanitizer build and tests =="
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" || status=1

exit "$status"
