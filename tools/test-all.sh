#!/usr/bin/env bash
# Installs what the tests need, builds every configuration and runs every
# test: the release build, the fuzz targets (clang + libFuzzer, each for its
# time budget) and the AddressSanitizer + UndefinedBehaviorSanitizer build.
# Ends with CTest's summary of the last run and exits non-zero when any step
# failed.
set -uo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh test windows || exit 1

jobs=$(nproc)
failed=()

step() {
  local name=$1
  shift
  "$@" || failed+=("$name")
}

echo "== release build and tests =="
step "release configure" cmake --preset release
step "release build" cmake --build --preset release -j "$jobs"
step "release tests" ctest --preset release -j "$jobs"

echo "== fuzz targets =="
step "fuzz configure" cmake --preset fuzz
step "fuzz build" cmake --build --preset fuzz -j "$jobs"
step "fuzz runs" ctest --preset fuzz -j "$jobs"

echo "== Windows cross build and tests under Wine =="
step "Windows build and tests" tools/test-windows.sh

echo "== sanitizer build and tests =="
step "asan configure" cmake --preset asan
step "asan build" cmake --build --preset asan -j "$jobs"
step "asan tests" ctest --preset asan -j "$jobs"

if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
