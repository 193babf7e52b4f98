#!/usr/bin/env bash
# Builds the Debian package from a finished build tree and checks that it holds every
# file an installation needs.
#   packaging/check_package.sh BUILD_DIR WITH_WINDOW(0|1)
set -euo pipefail
build=$1
with_window=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
  cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)
dpkg-deb --info "$deb" | grep -E "^ (Package|Version|Depends):"
# The journal's SQLite comes in through the shared-library dependencies.
dpkg-deb -f "$deb" Depends | grep -q "libsqlite3-0" || {
  echo "the package does not depend on libsqlite3-0"; exit 1; }
dpkg -c "$deb" >"$out/contents"

expected=(
  '\./usr/bin/pelliton-cli$'
  '\./usr/lib/(.*/)?libpelliton-reader\.so\.[0-9]'
  '\./usr/include/pelliton/reader/reader_api\.h$'
  '\./usr/lib/(.*/)?pkgconfig/pelliton-reader\.pc$'
  '\./usr/lib/udev/rules\.d/70-pelliton-orvo\.rules$'
  '\./usr/share/applications/pelliton\.desktop$'
)
if [ "$with_window" = 1 ]; then
  expected+=('\./usr/bin/pelliton$' '\./usr/share/icons/hicolor/32x32/apps/pelliton\.png$')
fi
missing=0
for pattern in "${expected[@]}"; do
  if ! awk '{print $NF}' "$out/contents" | grep -Eq "$pattern"; then
    echo "missing from the package: $pattern"
    missing=1
  fi
done
awk '{print $NF}' "$out/contents" | grep -v '/$'
exit $missing
