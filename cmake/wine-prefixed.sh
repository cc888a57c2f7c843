#!/bin/sh
# Runs a Windows program under Wine in the given prefix:
#   wine-prefixed.sh 32|64 PREFIX PROGRAM [ARGUMENT...]
#   wine-prefixed.sh --probe-32       exit 0 when this machine runs 32-bit programs
#   wine-prefixed.sh --skip-32 REASON  a test that needs 32-bit programs, where none run
#
# 64-bit programs start Wine's 64-bit loader directly. The `wine` and
# `wineboot` commands start the 32-bit loader first, which cannot run at all
# where the kernel has no 32-bit support, and would take the 64-bit programs
# down with it. 32-bit programs use those commands, as they always have.
#
# A missing prefix is created first, under a lock: Wine's own first-run setup
# does not cope with several programs starting at once in a new prefix. What
# the set-up says is kept in PREFIX.log and shown when it fails.
set -eu

fail() {
  echo "wine-prefixed.sh: $*" >&2
  exit 1
}

# Debian puts the loaders in /usr/lib/wine; elsewhere they are on PATH.
loader32() {
  if [ -x /usr/lib/wine/wine ]; then echo /usr/lib/wine/wine
  else command -v wine 2>/dev/null || true; fi
}
loader64() {
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
  else command -v wine64 2>/dev/null || true; fi
}

# Starting the 32-bit loader is the test: a kernel without 32-bit support
# refuses it ("Exec format error") whatever the machine is called.
probe32() {
  loader=$(loader32)
  [ -n "$loader" ] || return 2
  "$loader" --version >/dev/null 2>&1
}

case "${1:-}" in
  --probe-32)
    probe32 && exit 0
    [ $? -eq 2 ] && { echo "Wine's 32-bit loader is not installed (wine32:i386; scripts/setup-debian.sh installs it)"; exit 2; }
    echo "this machine cannot run 32-bit programs ($(loader32) --version fails; the kernel may have 32-bit support switched off, as with ia32_emulation=off)"
    exit 1 ;;
  --skip-32)
    # The build found no 32-bit support when it was configured. Should the
    # machine run 32-bit programs now, skipping would hide a real test run.
    if probe32; then
      fail "32-bit programs run on this machine, but this build was configured where they could not: configure it again (cmake --preset win32)"
    fi
    echo "SKIPPED: ${2:-this machine cannot run 32-bit programs}"
    exit 77 ;;
esac

[ $# -ge 3 ] || fail "usage: wine-prefixed.sh 32|64 PREFIX PROGRAM [ARGUMENT...]"
bits=$1
prefix=$(realpath -m "$2")  # Wine takes an absolute prefix only
shift 2
case "$bits" in
  64)
    loader=$(loader64)
    [ -n "$loader" ] || fail "Wine's 64-bit loader was not found (neither /usr/lib/wine/wine64 nor wine64 on PATH): install wine64 (scripts/setup-debian.sh)"
    boot="$loader wineboot --init" ;;
  32)
    loader=$(command -v wine 2>/dev/null || true)
    [ -n "$loader" ] || fail "Wine is not installed (no wine on PATH): install wine and wine32:i386 (scripts/setup-debian.sh)"
    boot="wineboot --init" ;;
  *) fail "the first argument is 32 or 64, not '$bits'" ;;
esac

export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/.zvk-ready" ]; then
  mkdir -p "$(dirname "$prefix")" 2>/dev/null || fail "cannot make the folder for the Wine prefix $prefix"
  export ZVK_WINE_BOOT="$boot"
  flock "$prefix.lock" sh -c '
    [ -f "$WINEPREFIX/.zvk-ready" ] && exit 0
    fix="remove $WINEPREFIX and run again; if it fails again, see whether Wine itself starts ($ZVK_WINE_BOOT)"
    if ! $ZVK_WINE_BOOT >"$WINEPREFIX.log" 2>&1; then
      echo "wine-prefixed.sh: making the Wine prefix $WINEPREFIX failed: \"$ZVK_WINE_BOOT\" said \"$(tail -n 1 "$WINEPREFIX.log")\" (all of it in $WINEPREFIX.log); $fix" >&2
      exit 1
    fi
    wineserver --wait 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-prefixed.sh: \"$ZVK_WINE_BOOT\" left no registry in $WINEPREFIX (its output is in $WINEPREFIX.log); $fix" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.zvk-ready"' || exit 1
fi
exec $loader "$@"
