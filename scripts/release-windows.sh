#!/usr/bin/env bash
# Makes the Windows release archive, ifzvk-VERSION-windows.zip: the 32-bit
# module ifzvk.spi, the 64-bit module ifzvk.sph and README.txt for viewer
# users. Before it reports the archive it unpacks it, checks each module's file
# natively (machine, exports, imports, version resource) and has each module
# open the sample document under Wine, through the host tool of its own build.
# Where this machine cannot run 32-bit programs, the 32-bit module is checked
# natively only, and the script says so.
#   scripts/release-windows.sh [--builds DIR] [--out DIR]
#     --builds DIR  holds the win32 and win64 builds (default: build, as the presets have it)
#     --out DIR     receives the archive (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

builds=build
out=build/release
while [ $# -gt 0 ]; do
  case "$1" in
    --builds) builds=${2:?--builds needs a folder}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    *) echo "usage: scripts/release-windows.sh [--builds DIR] [--out DIR]" >&2; exit 1 ;;
  esac
done

bash scripts/setup-debian.sh
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for preset in win32 win64; do
  echo "=== ${preset}: build" >&2
  cmake --preset "$preset" -B "$builds/$preset" >/dev/null
  cmake --build "$builds/$preset" -j "$zvk_jobs" --target ifzvk zvk-thumb pe-check
done
builds=$(cd "$builds" && pwd)
version=$(zvk_version "$builds/win64")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files" "$work/unpacked" "$out"
# Without debug information and symbols the modules shrink to about a
# quarter; exports, imports and the version resource stay.
i686-w64-mingw32-strip --strip-all -o "$work/files/ifzvk.spi" "$builds/win32/bin/ifzvk.spi"
x86_64-w64-mingw32-strip --strip-all -o "$work/files/ifzvk.sph" "$builds/win64/bin/ifzvk.sph"
sed 's/$/\r/' packaging/windows/README.txt >"$work/files/README.txt"  # Windows line ends

archive="$(cd "$out" && pwd)/ifzvk-$version-windows.zip"
rm -f "$archive"
(cd "$work/files" && cmake -E tar cf "$archive" --format=zip ifzvk.spi ifzvk.sph README.txt)

# The check: the archive holds exactly the three files, and each module,
# unpacked beside its build's host tool, loads and gives the sample's
# 256 x 256 preview; both give the same picture.
(cd "$work/unpacked" && cmake -E tar xf "$archive")
listing=$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')
if [ "$listing" != "./README.txt ./ifzvk.sph ./ifzvk.spi " ]; then
  echo "release: unexpected archive contents: $listing" >&2
  exit 1
fi
root=$(pwd)
for preset in win32 win64; do
  set -- ifzvk.spi i386 32
  [ "$preset" = win32 ] || set -- ifzvk.sph x86-64 64
  "$builds/$preset/bin/pe-check" "$work/unpacked/$1" "$2" "$version" "$3" >/dev/null ||
    { echo "release: $1 from the archive fails the file checks above" >&2; exit 1; }
done

check() {  # check PRESET MODULE BITS
  local preset=$1 module=$2 bits=$3 message
  mkdir "$work/$preset"
  cp "$work/unpacked/$module" "$builds/$preset/bin/zvk-thumb.exe" "$root/examples/sample.zvk" "$work/$preset/"
  if ! message=$(cd "$work/$preset" &&
                 sh "$root/cmake/wine-prefixed.sh" "$bits" "$builds/$preset/wine-prefix" \
                   zvk-thumb.exe sample.zvk sample.bmp 2>&1); then
    echo "release: $module from the archive fails: $message" >&2
    exit 1
  fi
  if [ "$(zvk_bmp_size "$work/$preset/sample.bmp")" != "256 256" ]; then
    echo "release: $module from the archive did not give the sample's 256 x 256 preview: $message" >&2
    exit 1
  fi
}
check win64 ifzvk.sph 64
if why=$(sh cmake/wine-prefixed.sh --probe-32); then
  check win32 ifzvk.spi 32
  if ! cmp -s "$work/win32/sample.bmp" "$work/win64/sample.bmp"; then
    echo "release: the 32-bit and the 64-bit module give different pictures" >&2
    exit 1
  fi
  echo "release: $archive (both modules load from it and show the sample)"
else
  echo "release: $archive (ifzvk.sph loads from it and shows the sample)"
  echo "release: ifzvk.spi was NOT loaded: $why; its file was checked natively only (PE32 for i386, five exports, system imports, version resource)"
fi
