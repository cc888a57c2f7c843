#!/usr/bin/env bash
# Opens examples/sample.zvk in real image viewers on a virtual screen and
# checks that the preview is on it: eog through the gdk-pixbuf loader, and
# qimgv through the Qt image plug-in when that is built. Everything is
# installed into a temporary prefix; nothing of the system is changed.
#   scripts/desktop-check.sh [BUILD]   BUILD: a built tree (default build/linux)
# Screenshots go to out/desktop-<viewer>.png. Needs Xvfb, eog, qimgv,
# ImageMagick and dbus-run-session. Exit 0 when every viewer that ran shows
# the preview's colours.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
sample=$root/examples/sample.zvk
out=$root/out
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/zvk-desktop-check.XXXXXX")
xvfb_pid=""
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# --- The install, with the MIME database and application index a desktop
# makes from it.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
export XDG_DATA_DIRS=$prefix/share:/usr/share XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
update-mime-database "$prefix/share/mime"
loader_cache=$(find "$prefix" -name loaders.cache -print -quit)
[ -n "$loader_cache" ] || { echo "desktop-check: no gdk-pixbuf loader cache in the install" >&2; exit 1; }

# --- A screen of its own, on the first display number nobody uses.
display_number=99
while [ -e "/tmp/.X$display_number-lock" ] || [ -e "/tmp/.X11-unix/X$display_number" ]; do
  display_number=$((display_number + 1))
done
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=:$display_number
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display_number" ] && break
  sleep 0.2
done
[ -e "/tmp/.X11-unix/X$display_number" ] || { echo "desktop-check: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

# --- What the preview looks like: zvk-thumb renders it through the Susie
# module; four colours of it (the red and the blue ball, the sky, a dark
# floor tile) and how many pixels each covers.
"$build/bin/zvk-thumb" --quiet "$sample" "$work/reference.png"
colours=()
for point in 70,100 195,118 128,20 20,235; do
  colours+=("$(convert "$work/reference.png" -format "%[hex:p{${point%,*},${point#*,}}]" info:)")
done
pixels_of() {  # pixels_of PICTURE COLOUR: how many pixels are within 4% of the colour
  convert "$1" -alpha off -fuzz 4% -transparent "#$2" -alpha extract -negate -format "%[fx:round(mean*w*h)]" info:
}
shows_preview() {  # shows_preview SCREENSHOT NAME: every colour covers at least half its share
  local colour want have verdict=0
  for colour in "${colours[@]}"; do
    want=$(pixels_of "$work/reference.png" "$colour")
    have=$(pixels_of "$1" "$colour")
    echo "desktop-check: $2: #$colour: $have pixels on screen, $want in the preview"
    [ "$have" -ge $((want / 2)) ] && [ "$want" -gt 0 ] || verdict=1
  done
  return $verdict
}
import -window root "$out/desktop-empty.png"
if shows_preview "$out/desktop-empty.png" "empty screen" >/dev/null; then
  echo "desktop-check: the empty screen already passes the check: it proves nothing" >&2
  exit 1
fi

# show NAME COMMAND...: starts the viewer in a session bus of its own, takes
# a screenshot once it has had time to draw, ends it, checks the screenshot.
show() {
  local name=$1 viewer_pid session_pid
  shift
  dbus-run-session -- sh -c '"$@" & echo $! >"'"$work/$name.pid"'"; wait' viewer "$@" >"$work/$name.log" 2>&1 &
  session_pid=$!
  sleep 6
  import -window root "$out/desktop-$name.png"
  viewer_pid=$(cat "$work/$name.pid")
  kill "$viewer_pid" 2>/dev/null || true
  wait "$session_pid" || true
  if shows_preview "$out/desktop-$name.png" "$name"; then
    echo "desktop-check: $name shows the preview ($out/desktop-$name.png)"
  else
    echo "desktop-check: $name does NOT show the preview ($out/desktop-$name.png); its output:" >&2
    cat "$work/$name.log" >&2
    failed=1
  fi
}

failed=0
GDK_PIXBUF_MODULE_FILE=$loader_cache show eog eog --new-instance "$sample"

# qimgv is a Qt 5 program: it takes a Qt 5 image plug-in from the install.
qt_plugin=$(find "$prefix" -path "*qt5*/imageformats/*zvk*" -name "*.so" -print -quit)
if [ -z "$qt_plugin" ]; then
  echo "desktop-check: qimgv skipped: the install has no Qt 5 image plug-in for zorvik documents (not built)"
else
  QT_PLUGIN_PATH=$(dirname "$(dirname "$qt_plugin")") QT_QPA_PLATFORM=xcb show qimgv qimgv "$sample"
fi
exit $failed
