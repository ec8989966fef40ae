#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short period
# from its committed seed corpus. Any crash, leak or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${QUOR_FUZZ_SECONDS:-30}
cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_targets
shopt -s nullglob
targets=(build-fuzz/fuzz/*/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets built"
  exit 0
fi
for bin in "${targets[@]}"; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin"); name=${name#fuzz_}
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$PWD/.ci/lsan.supp \
    "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" "$work" \
    > "$work/log" 2>&1 || { tail -50 "$work/log"; echo "fuzz target $name failed"; exit 1; }
  grep -E 'stat::number_of_executed_units|Done' "$work/log" | tail -2
  rm -rf "$work"
done
