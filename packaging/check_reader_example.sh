#!/usr/bin/env bash
# Installs a finished build under a temporary root, then builds the README's C example
# against that installation with the README's own compile line, pkg-config finding the
# header and library, and runs it. Without an Orvo reader the example says so.
#   packaging/check_reader_example.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

if ! DESTDIR=$root/stage cmake --install "$build" >"$root/install.log" 2>&1; then
  cat "$root/install.log"
  exit 1
fi
pc=$(find "$root/stage" -path '*/pkgconfig/pelliton-reader.pc' | head -n 1)
library=$(find "$root/stage" -name 'libpelliton-reader.so' | head -n 1)
if [ -z "$pc" ] || [ -z "$library" ]; then
  echo "the installation holds no pelliton-reader.pc or libpelliton-reader.so"
  exit 1
fi
# The staged files answer for the prefix the build was configured with.
export PKG_CONFIG_PATH=$(dirname "$pc")
export PKG_CONFIG_SYSROOT_DIR=$root/stage
export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1

# The header must come from the installation, not from a copy elsewhere on this machine.
found=0
for flag in $(pkg-config --cflags pelliton-reader); do
  case $flag in
    -I*) [ -f "${flag#-I}/pelliton/reader/reader_api.h" ] && found=1 ;;
  esac
done
if [ "$found" != 1 ]; then
  echo "pkg-config --cflags names no folder holding <pelliton/reader/reader_api.h>:"
  pkg-config --cflags pelliton-reader
  exit 1
fi

mkdir "$root/work"
cp "$source/examples/reader_api_example.c" "$root/work/example.c"
cd "$root/work"
cc example.c $(pkg-config --cflags --libs pelliton-reader)
output=$(LD_LIBRARY_PATH=$(dirname "$library") ./a.out 2>&1 || true)
echo "$output"
grep -Eq "No Orvo reader found|ATR:|No card in the reader" <<<"$output"
