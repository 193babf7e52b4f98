#!/usr/bin/env bash
# The console demo ends with status 0 and shows the download's success and the
# simulated card's information.
#   tests/cli/demo_check.sh SOURCE_DIR BUILD_DIR
set -u
out=$(PELLITON_DEMO_PREBUILT=1 PELLITON_DEMO_BUILD="$2" "$1/scripts/demo" --console 2>&1)
status=$?
echo "$out"
if [ $status -eq 77 ]; then exit 77; fi
[ $status -eq 0 ] || { echo "demo exit status $status"; exit 1; }
for expected in "Download APP Successfull!" "Tessiv Card Version: V2.00" \
    "Norvane App Version:V3.05  counter:0500" \
    "Obtained upgrade card information for Norvane-IC Successfully!"; do
  grep -qF -- "$expected" <<<"$out" || { echo "missing: $expected"; exit 1; }
done
