#!/usr/bin/env bash
# The whole test suite: native, sanitizers, and the Windows build under Wine.
#   scripts/test.sh [PRESET...]   (default: linux linux-asan win32)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(linux linux-asan win32)

status=0
for preset in "${presets[@]}"; do
  echo "=== ${preset}: build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "=== ${preset}: test" >&2
  ctest --preset "$preset" -j "$(nproc)" || status=1
done
exit "$status"
