#!/usr/bin/env bash
# Makes the Windows release archive, ifzvk-VERSION-windows.zip: the 32-bit
# module ifzvk.spi, the 64-bit module ifzvk.sph, the Explorer thumbnail handler
# of each (one file name, so in folders: x64/ifzvk-thumbnail.dll and
# x86/ifzvk-thumbnail.dll) and README.txt for users. Before it reports the
# archive it unpacks it, checks each DLL's file natively (machine, exports,
# imports, version resource), has each module open the sample document under
# Wine through the host tool of its own build, and registers each handler with
# regsvr32, has COM make the sample's thumbnails with it through the handler
# tests of its build, and unregisters it again.
# Where this machine cannot run 32-bit programs, the 32-bit DLLs are checked
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
  cmake --build "$builds/$preset" -j "$zvk_jobs" --target ifzvk ifzvk-thumbnail zvk-thumb zvk_explorer_tests pe-check
done
builds=$(cd "$builds" && pwd)
version=$(zvk_version "$builds/win64")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files/x64" "$work/files/x86" "$work/unpacked" "$out"
# Without debug information and symbols the DLLs shrink to about a quarter;
# exports, imports and the version resource stay.
i686-w64-mingw32-strip --strip-all -o "$work/files/ifzvk.spi" "$builds/win32/bin/ifzvk.spi"
x86_64-w64-mingw32-strip --strip-all -o "$work/files/ifzvk.sph" "$builds/win64/bin/ifzvk.sph"
i686-w64-mingw32-strip --strip-all -o "$work/files/x86/ifzvk-thumbnail.dll" "$builds/win32/bin/ifzvk-thumbnail.dll"
x86_64-w64-mingw32-strip --strip-all -o "$work/files/x64/ifzvk-thumbnail.dll" "$builds/win64/bin/ifzvk-thumbnail.dll"
# The version where the text names the product; Windows line ends.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' packaging/windows/README.txt >"$work/files/README.txt"

files="README.txt ifzvk.sph ifzvk.spi x64/ifzvk-thumbnail.dll x86/ifzvk-thumbnail.dll"
archive="$(cd "$out" && pwd)/ifzvk-$version-windows.zip"
rm -f "$archive"
(cd "$work/files" && cmake -E tar cf "$archive" --format=zip $files)

# The check: the archive holds exactly these files, each DLL's file is what
# its kind must be, each module, unpacked beside its build's host tool, loads
# and gives the sample's 256 x 256 preview (both the same picture), and each
# handler registers, makes the sample's thumbnails and unregisters.
(cd "$work/unpacked" && cmake -E tar xf "$archive")
listing=$(cd "$work/unpacked" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | paste -sd' ' -)
if [ "$listing" != "$files" ]; then
  echo "release: unexpected archive contents: $listing" >&2
  exit 1
fi
root=$(pwd)
for dll in win32:ifzvk.spi win64:ifzvk.sph win32:x86/ifzvk-thumbnail.dll win64:x64/ifzvk-thumbnail.dll; do
  set -- "${dll%%:*}" i386 32
  [ "$1" = win32 ] || set -- win64 x86-64 64
  "$builds/$1/bin/pe-check" "$work/unpacked/${dll#*:}" "$2" "$version" "$3" >/dev/null ||
    { echo "release: ${dll#*:} from the archive fails the file checks above" >&2; exit 1; }
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
# The handler, unpacked beside its build's handler tests, goes through what
# the build's own regsvr32 test does (explorer/tests/regsvr32.cmake): regsvr32
# registers it, COM makes the sample's thumbnails with it, and regsvr32 /u
# leaves none of its keys behind.
check_handler() {  # check_handler PRESET DLL BITS
  local preset=$1 dll=$2 bits=$3 folder="$work/$1-handler" message
  mkdir "$folder"
  cp "$work/unpacked/$dll" "$builds/$preset/bin/zvk_explorer_tests.exe" "$folder/"
  if ! message=$(cmake "-DEMULATOR=sh;$root/cmake/wine-prefixed.sh;$bits;$builds/$preset/wine-prefix" \
                       -DHANDLER="$folder/ifzvk-thumbnail.dll" -DTESTS="$folder/zvk_explorer_tests.exe" \
                       -P "$root/explorer/tests/regsvr32.cmake" 2>&1); then
    echo "release: $dll from the archive fails its registration check: $message" >&2
    exit 1
  fi
}

check win64 ifzvk.sph 64
check_handler win64 x64/ifzvk-thumbnail.dll 64
if why=$(sh cmake/wine-prefixed.sh --probe-32); then
  check win32 ifzvk.spi 32
  if ! cmp -s "$work/win32/sample.bmp" "$work/win64/sample.bmp"; then
    echo "release: the 32-bit and the 64-bit module give different pictures" >&2
    exit 1
  fi
  check_handler win32 x86/ifzvk-thumbnail.dll 32
  echo "release: $archive (both modules load from it and show the sample; both handlers register, make its thumbnails and unregister)"
else
  echo "release: $archive (ifzvk.sph loads from it and shows the sample; x64/ifzvk-thumbnail.dll registers, makes its thumbnails and unregisters)"
  echo "release: ifzvk.spi was NOT loaded: $why; its file was checked natively only (PE32 for i386, five exports, system imports, version resource)"
  echo "release: x86/ifzvk-thumbnail.dll was NOT loaded: $why; its file was checked natively only (PE32 for i386, four exports, system imports, version resource)"
fi
