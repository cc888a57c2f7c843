#!/bin/sh
# Regenerates examples/sample.zvk: the built-in 256 x 256 scene as a
# compressed preview record named "thumb", written by the project's own zvk-make.
set -eu
cd "$(dirname "$0")/.."
. scripts/common.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target zvk-make -j "$zvk_jobs"
build/linux/bin/zvk-make --scene 256 examples/sample.zvk
echo "wrote examples/sample.zvk ($(wc -c < examples/sample.zvk) bytes)"
