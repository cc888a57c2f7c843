#!/usr/bin/env bash
# Times GetPicture through the built module against a baseline measured in the
# same run and prints the tables: natively with Google Benchmark, the Windows
# module under Wine with a plain timing loop and one Explorer thumbnail through
# the thumbnail handler against one GetPicture, then the peak heap of one
# file-mode request on a document with 128 MiB of filler (valgrind massif).
#   scripts/bench.sh [--native-only] [--quick]
# Build trees: build/bench, build/bench-win64 and, where 32-bit programs run,
# build/bench-win32 (ZVK_BENCH_BUILD_ROOT=DIR puts them under DIR instead of
# build/). Takes about four minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

native_only=0
quick=()
for arg in "$@"; do
  case "$arg" in
    --native-only) native_only=1 ;;
    --quick) quick=(--quick) ;;
    *) echo "usage: scripts/bench.sh [--native-only] [--quick]" >&2; exit 1 ;;
  esac
done

if [ "$native_only" = 1 ]; then bash scripts/setup-debian.sh --native; else bash scripts/setup-debian.sh; fi
root="$(realpath -m "${ZVK_BENCH_BUILD_ROOT:-build}")"

echo "machine: $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2), load average $(cut -d' ' -f1-3 /proc/loadavg)"

cmake -S . -B "$root/bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZVK_BUILD_TESTS=OFF -DZVK_BUILD_BENCH=ON >/dev/null
cmake --build "$root/bench" -j "$zvk_jobs" --target zvk-bench zvk-bench-loop zvk-bench-memory >/dev/null
"$root/bench/bin/zvk-bench" "${quick[@]}"
echo
"$root/bench/bin/zvk-bench-memory"

if [ "$native_only" = 0 ]; then
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # The 32-bit module where this machine runs 32-bit programs, else the 64-bit one.
  if why=$(sh cmake/wine-prefixed.sh --probe-32); then
    bits=32 toolchain=cmake/mingw-i686.cmake module=ifzvk.spi
  else
    echo "($why: the 64-bit module instead)"
    bits=64 toolchain=cmake/mingw-x86_64.cmake module=ifzvk.sph
  fi
  cmake -S . -B "$root/bench-win$bits" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZVK_BUILD_TESTS=OFF -DZVK_BUILD_BENCH=ON >/dev/null
  cmake --build "$root/bench-win$bits" -j "$zvk_jobs" --target zvk-bench-loop >/dev/null
  echo
  echo "Windows module ($module, $bits-bit) under $(/usr/lib/wine/wine64 --version 2>/dev/null || wine64 --version):"
  sh cmake/wine-prefixed.sh "$bits" "$root/bench-win$bits/wine-prefix" "$root/bench-win$bits/bin/zvk-bench-loop.exe" \
    "${quick[@]}" | tr -d '\r'

  # The Explorer thumbnail handler against the module, both 64-bit (Explorer is on 64-bit Windows).
  cmake -S . -B "$root/bench-win64" --toolchain cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZVK_BUILD_TESTS=OFF -DZVK_BUILD_BENCH=ON >/dev/null
  cmake --build "$root/bench-win64" -j "$zvk_jobs" --target zvk-bench-explorer >/dev/null
  echo
  echo "One Explorer thumbnail against one GetPicture, 64-bit, under Wine:"
  sh cmake/wine-prefixed.sh 64 "$root/bench-win64/wine-prefix" "$root/bench-win64/bin/zvk-bench-explorer.exe" \
    "${quick[@]}" | tr -d '\r'
fi

if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed: no peak heap figure" >&2
  exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$root/bench/bin/zvk-bench-loop" --write-peak-document "$work/peak.zvk" >"$work/sizes"
# The module's temporary XML file lands in the current directory: the work folder.
(cd "$work" && valgrind --quiet --tool=massif --peak-inaccuracy=0 --massif-out-file="$work/massif.out" \
  "$root/bench/bin/zvk-bench-loop" --one-call "$work/peak.zvk")
peak="$(sed -n 's/^mem_heap_B=//p' "$work/massif.out" | sort -n | tail -1)"
mib() { awk -v b="$1" 'BEGIN { printf "%.2f MiB", b / 1048576 }'; }
size() { awk -v k="$1" '$0 ~ "^" k " " { print $NF }' "$work/sizes"; }
echo
echo "Peak heap of one file-mode GetPicture (1024 x 1024 deflate preview, 128 MiB filler), valgrind massif:"
echo
echo "| block | bytes |"
echo "|---|---:|"
for k in document "bin copy" image bitmap sum; do
  echo "| $k | $(mib "$(size "$k")") |"
done
echo "| measured peak (whole process, module tables and C++ runtime included) | $(mib "$peak") |"
