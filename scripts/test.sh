#!/usr/bin/env bash
# The whole test suite: native, sanitizers, the 32-bit and 64-bit Windows
# builds under Wine with a check of their release archive, and a short run of
# each fuzz target (scripts/fuzz.sh; ZVK_FUZZ_SECONDS each, default 30).
#   scripts/test.sh [PRESET...]   (default: linux linux-asan win32 win64 fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
bash scripts/setup-debian.sh

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(linux linux-asan win32 win64 fuzz)

status=0
skipped=()
for preset in "${presets[@]}"; do
  if [ "$preset" = fuzz ]; then
    echo "=== fuzz: build and run" >&2
    bash scripts/fuzz.sh "${ZVK_FUZZ_SECONDS:-30}" || status=1
    continue
  fi
  echo "=== ${preset}: build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$zvk_jobs"
  echo "=== ${preset}: test" >&2
  ctest --preset "$preset" -j "$zvk_jobs" | tee "build/$preset/ctest.out" || status=1
  # A test that cannot run on this machine says why in one line of its output.
  names=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "build/$preset/ctest.out" | paste -sd, -)
  if [ -n "$names" ]; then
    why=$(grep -h '^SKIPPED:' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null | sort -u | sed 's/^SKIPPED: //' | paste -sd';' -)
    skipped+=("${preset}: ${names//,/, } (${why:-no reason given})")
  fi
done

# With both Windows builds at hand: the release archive, unpacked and loaded.
if [[ " ${presets[*]} " == *" win32 "* && " ${presets[*]} " == *" win64 "* ]]; then
  echo "=== windows release archive" >&2
  mkdir -p build
  bash scripts/release-windows.sh | tee build/release.out || status=1
  # One line for each DLL it could not load (the 32-bit ones where 32-bit programs cannot run).
  while IFS= read -r line; do
    skipped+=("release: $line")
  done < <(sed -n 's/^release: \(.*\) was NOT loaded: \(.*\); its file.*/loading \1 from the archive (\2)/p' build/release.out)
fi

if [ "${#skipped[@]}" -gt 0 ]; then
  for line in "${skipped[@]}"; do echo "test.sh: skipped ${line}" >&2; done
else
  echo "test.sh: nothing skipped" >&2
fi
exit "$status"
