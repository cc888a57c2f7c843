# What the scripts share (POSIX sh); each one sources this file after moving
# to the project's folder.

# Build and test parallelism: one job per processor, or ZVK_JOBS.
zvk_jobs=${ZVK_JOBS:-$(nproc)}

# zvk_version BUILD: the project's version, as CMake wrote it into the
# configured build tree BUILD.
zvk_version() {
  [ -s "$1/version.txt" ] || { echo "no $1/version.txt: configure that build first" >&2; return 1; }
  cat "$1/version.txt"
}

# zvk_bmp_size FILE: the width and height in a BMP file's header, when the
# file is a 24-bit BMP of exactly the size they give (54 bytes of headers,
# rows padded to four bytes); fails otherwise.
zvk_bmp_size() {
  [ -f "$1" ] && [ "$(head -c 2 "$1")" = BM ] || return 1
  set -- "$1" $(od -An -t u4 -j 18 -N 8 "$1") $(od -An -t u2 -j 28 -N 2 "$1")
  [ "$#" = 4 ] && [ "$4" = 24 ] || return 1
  [ "$(stat -c %s "$1")" = $((54 + $3 * (($2 * 3 + 3) / 4 * 4))) ] || return 1
  echo "$2 $3"
}
