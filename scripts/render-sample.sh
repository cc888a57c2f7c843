#!/usr/bin/env bash
# Builds the native plug-in and renders the bundled sample document through it,
# as a viewer would, into out/sample.bmp.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
bash scripts/setup-debian.sh --native
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$zvk_jobs" --target ifzvk zvk-thumb
mkdir -p out
build/linux/bin/zvk-thumb examples/sample.zvk out/sample.bmp
echo "sample rendered to $(pwd)/out/sample.bmp"
