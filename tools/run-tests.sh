#!/usr/bin/env bash
# Installs what is missing, builds and runs every test:
#   1. release build, all tests (ctest)
#   2. AddressSanitizer + UndefinedBehaviorSanitizer build, all tests
#   3. ThreadSanitizer build, all tests
#   4. fuzz targets (clang, libFuzzer) for a bounded time
# Any failure or sanitizer finding fails the run.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="$(nproc)"
START=$(date +%s)

bash tools/install-deps.sh

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

# GUI tests need a display; start a private Xvfb when there is none, and a
# window manager on it (the updater's close button is the window manager's).
XVFB_PID=""
WM_PID=""
cleanup() {
  if [ -n "$WM_PID" ]; then kill "$WM_PID" 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
source tools/display.sh
start_private_display
if ! wmctrl -m >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  WM_PID=$!
  for _ in $(seq 1 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
fi

stage() {
  local name="$1"; shift
  local dir="build/$name"
  echo "=== [$name] configure"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  echo "=== [$name] build"
  cmake --build "$dir" -j "$JOBS"
  echo "=== [$name] test"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 600)
}

stage release -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage asan -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=address,undefined -DUPDATER_BUILD_BENCH=OFF
# The application is left out here: its own code runs on the message thread
# only, the engine's threads are covered without it, and JUCE under
# ThreadSanitizer costs minutes.
stage tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_SANITIZE=thread -DUPDATER_BUILD_BENCH=OFF -DUPDATER_BUILD_APP=OFF

if [ -x tools/run-fuzz.sh ]; then
  bash tools/run-fuzz.sh
fi

echo "=== all stages passed in $(( $(date +%s) - START )) s"
