#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz, then runs each for a bounded time
# (FUZZ_SECONDS per target, default 28). A crash, a sanitizer finding, a
# leak or a hang fails the run; the input that caused it is kept in
# build/fuzz/run/artifacts/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
DIR=build/fuzz
SECONDS_PER_TARGET="${FUZZ_SECONDS:-28}"
CC_BIN="${FUZZ_CC:-clang-14}"
CXX_BIN="${FUZZ_CXX:-clang++-14}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

echo "=== [fuzz] configure"
cmake -S . -B "$DIR" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$CC_BIN" -DCMAKE_CXX_COMPILER="$CXX_BIN" \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DUPDATER_SANITIZE=address,undefined -DUPDATER_FUZZ=ON \
  -DUPDATER_BUILD_APP=OFF -DUPDATER_BUILD_BENCH=OFF >/dev/null
echo "=== [fuzz] build"
cmake --build "$DIR" -j "$(nproc)" --target fuzz_pe_version fuzz_scanner_definitions make_pe_seeds

RUN="$DIR/run"
rm -rf "$RUN"
mkdir -p "$RUN/artifacts" "$RUN/tmp" "$RUN/corpus/fuzz_pe_version" "$RUN/corpus/fuzz_scanner_definitions"
export TMPDIR="$ROOT/$RUN/tmp"
cp fuzz/corpus/scanner_definitions/* "$RUN/corpus/fuzz_scanner_definitions/"
"$DIR/fuzz/make_pe_seeds" "$RUN/corpus/fuzz_pe_version"

run_target() {
  local name="$1"; shift
  echo "=== [fuzz] $name for ${SECONDS_PER_TARGET} s"
  "$DIR/fuzz/$name" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$RUN/artifacts/$name-" -print_final_stats=1 "$@" "$RUN/corpus/$name" \
    >"$RUN/$name.log" 2>&1 || { tail -n 60 "$RUN/$name.log"; echo "=== [fuzz] $name FAILED"; return 1; }
  grep -E '^stat::number_of_executed_units|^Done' "$RUN/$name.log" || true
}

run_target fuzz_pe_version -max_len=4096
run_target fuzz_scanner_definitions -max_len=4096 -dict=fuzz/scanner_definitions.dict
rm -rf "$RUN/tmp"
echo "=== [fuzz] passed"
