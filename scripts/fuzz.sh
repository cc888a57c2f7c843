#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for a bounded time on
# the committed corpus (fuzz/corpus/<target>/) plus seeds that the document
# writer makes now. Fails on any finding: crash, sanitizer report, leak,
# timeout or out-of-memory; the input is left in the work folder.
#   scripts/fuzz.sh [SECONDS] [TARGET...]   (default: 30 s each, all targets)
# Environment: ZVK_FUZZ_BUILD (build folder, default build/fuzz),
# ZVK_FUZZ_WORK (work folder, default <build>/fuzz-work).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
root=$PWD
seconds=${1:-30}
[ "$#" -eq 0 ] || shift
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(fuzz_picture fuzz_decode fuzz_thumb_xml)

build=${ZVK_FUZZ_BUILD:-$root/build/fuzz}
work=${ZVK_FUZZ_WORK:-$build/fuzz-work}
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$zvk_jobs" --target "${targets[@]}" zvk-fuzz-seeds

rm -rf "$work"
mkdir -p "$work/tmp"
"$build/bin/zvk-fuzz-seeds" "$work/seeds"
# Each target works in a private folder under TMPDIR; one that a crash left
# behind goes with the work folder.
export TMPDIR="$work/tmp"

status=0
for target in "${targets[@]}"; do
  mkdir -p "$work/new/$target" "$root/fuzz/corpus/$target"
  echo "=== fuzz: $target for ${seconds} s" >&2
  # New inputs go to the first folder, so the committed corpus stays as it is.
  # One input may take at most 10 s; the sanitizer settings are built in.
  # A target with a dictionary (fuzz/<target>.dict) gets it.
  dict=()
  [ ! -f "$root/fuzz/$target.dict" ] || dict=(-dict="$root/fuzz/$target.dict")
  if ! "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/$target-" "${dict[@]}" \
      "$work/new/$target" "$work/seeds/$target" "$root/fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
    status=1
    grep -E -A30 'ERROR|runtime error|fuzz check failed' "$work/$target.log" | head -60 >&2 || tail -40 "$work/$target.log" >&2
    echo "=== fuzz: $target found something; input and log in $work" >&2
  fi
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" >&2 || true
done
exit "$status"
