#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, from Debian's archive
# only. Does nothing when everything is there already.
#   scripts/setup-debian.sh           everything: native, sanitizer, Windows + Wine, fuzzing
#   scripts/setup-debian.sh --native  only what the native build needs
set -euo pipefail

native=(cmake make g++ pkg-config zlib1g-dev libtinyxml-dev libboost-dev libpng-dev googletest libbenchmark-dev valgrind
        bubblewrap shared-mime-info libglib2.0-bin
        libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin desktop-file-utils imagemagick qtbase5-dev qt6-base-dev)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev dpkg-dev wine wine32:i386 wine64)
# The fuzz preset: clang with libFuzzer and the sanitizer runtimes; llvm
# brings llvm-symbolizer for readable reports.
fuzzing=(clang libclang-rt-14-dev llvm)

want=("${native[@]}")
[ "${1:-}" = "--native" ] || want+=("${windows[@]}" "${fuzzing[@]}")

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for package in "${want[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done

# The Windows build compiles Debian's TinyXML source package: it needs
# deb-src entries beside the binary ones.
needs_sources() {
  [ "${1:-}" != "--native" ] || return 1
  ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}

if [ "${#missing[@]}" -eq 0 ] && ! needs_sources "${1:-}"; then
  exit 0
fi

echo "setup: installing ${missing[*]:-source entries}" >&2
if needs_sources "${1:-}"; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/zvk-deb-src.sources >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/zvk-deb-src.list >/dev/null
  fi
fi
if [[ " ${missing[*]:-} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
