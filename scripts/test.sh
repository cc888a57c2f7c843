#!/usr/bin/env bash
# The whole test suite: native, sanitizers, the 32-bit and 64-bit Windows
# builds under Wine with a check of their release archive, and a short run of
# each fuzz target (scripts/fuzz.sh; ZVK_FUZZ_SECONDS each, default 30).
#   scripts/test.sh [PRESET...]   (default: linux linux-asan win32 win64 fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(linux linux-asan win32 win64 fuzz)

status=0
for preset in "${presets[@]}"; do
  if [ "$preset" = fuzz ]; then
    echo "=== fuzz: build and run" >&2
    bash scripts/fuzz.sh "${ZVK_FUZZ_SECONDS:-30}" || status=1
    continue
  fi
  echo "=== ${preset}: build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "=== ${preset}: test" >&2
  ctest --preset "$preset" -j "$(nproc)" || status=1
done

# With both Windows builds at hand: the release archive, unpacked and loaded.
if [[ " ${presets[*]} " == *" win32 "* && " ${presets[*]} " == *" win64 "* ]]; then
  echo "=== windows release archive" >&2
  bash scripts/release-windows.sh || status=1
fi
exit "$status"
