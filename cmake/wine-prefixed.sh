#!/bin/sh
# Runs a Windows program under Wine in the given prefix:
#   wine-prefixed.sh PREFIX PROGRAM [ARGUMENT...]
# A missing prefix is created first, under a lock: Wine's own first-run setup
# does not cope with several programs starting at once in a new prefix.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/.zvk-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  flock "$prefix.lock" sh -c '
    [ -f "$WINEPREFIX/.zvk-ready" ] && exit 0
    wineboot --init >/dev/null 2>&1 || true
    wineserver --wait
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefixed.sh: could not create $WINEPREFIX" >&2; exit 1; }
    touch "$WINEPREFIX/.zvk-ready"'
fi
exec wine "$@"
