#!/usr/bin/env bash
# pelliton-cli as a program: --version, and check on the example and on faulty scripts,
# each with its exact output and exit status (the texts of the Linux build). With a
# service name, also readers and info where no PC/SC service answers and the journal of a
# build that keeps none (the Windows build under wine).
#   tests/cli/exe_check.sh SOURCE_DIR SERVICE_NAME|- COMMAND...
# COMMAND is pelliton-cli, or "wine pelliton-cli.exe"; each run is bounded to 60 s.
set -u
source_dir=$1
service=$2
shift 2
program=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# expect NAME STATUS STDOUT STDERR ARGS...: the run's status and both streams, exactly.
expect() {
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  timeout 60 "${program[@]}" "$@" >out.txt 2>err.txt
  local got=$?
  if [ "$got" != "$status" ] || [ "$(cat out.txt)" != "$out" ] || [ "$(cat err.txt)" != "$err" ]; then
    echo "FAIL $name: status $got (want $status)"
    echo "--- stdout:"; cat out.txt
    echo "--- stderr:"; cat err.txt
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

cp "$source_dir/examples/tessiv_example.bin" example.bin
{ cat example.bin; printf 'F0D1 GARBAGE\r\n'; } >garbage.bin
# App1's address line moved off 0x00002000.
sed 's/^F05D0100090000200000011FFF00/F05D0100090000300000011FFF00/' example.bin >start.bin
printf '\xff\xfeF\x000\x00' >utf16.bin

version=$(timeout 60 "${program[@]}" --version)
status=$?
if [ $status -ne 0 ] || [[ ! "$version" =~ ^pelliton-cli\ [0-9]+\.[0-9]+\.[0-9]+ ]]; then
  echo "FAIL version: status $status, \"$version\""
  failures=$((failures + 1))
else
  echo "ok   version ($version)"
fi
expect check-example 0 "Script is sound: 59 lines
App1 0x00002000-0x00011FFF: 24 data lines, 3072 data bytes
App2 0x00012000-0x00021FFF: 16 data lines, 2048 data bytes
Pass-through lines: 1
Suits Tessiv cards V1.00, V1.10 and V2.00" "" check example.bin
expect check-garbage 1 "Please check APP1 data is all HEX code! at line 60!
Line 60: F0D1 GARBAGE" "" check garbage.bin
expect check-garbage-json 1 \
  '{"schema":1,"command":"check","success":false,"script":"garbage.bin","messages":["Please check APP1 data is all HEX code! at line 60!"],"line":60,"warnings":[],"warnings_left_off":0}' \
  "" check --json garbage.bin
expect check-missing 1 "Open APP update file error!" \
  "pelliton-cli: cannot read missing.bin: no such file" check missing.bin
expect check-start-address 1 "APP1 file StartAddr error!" "" check start.bin
expect check-utf16 1 "APP1 file StartAddr error!" \
  "pelliton-cli: the script looks like UTF-16 text; save it as ASCII/UTF-8" check utf16.bin
expect usage 2 "" \
  "pelliton-cli: unexpected argument extra (see pelliton-cli check --help)" \
  check example.bin extra

if [ "$service" != "-" ]; then
  expect readers-without-service 1 "The PC/SC service ($service) is not running
Orvo reader: not attached" "" readers
  # No journal to open, and nothing said about it; the card run fails as on Linux.
  timeout 60 "${program[@]}" info >out.txt 2>err.txt
  status=$?
  if [ $status -ne 1 ] ||
    [ "$(cat out.txt)" != "Error: The smart Chip can't to be connected!
Card Reset Error!" ] ||
    [ "$(head -n 1 err.txt)" != "pelliton-cli: the PC/SC service ($service) is not running" ] ||
    ! grep -q '^FAIL  no reader  Card Reset Error!  (' err.txt || [ "$(wc -l <err.txt)" -ne 2 ]; then
    echo "FAIL info-without-service: status $status"
    cat out.txt err.txt
    failures=$((failures + 1))
  else
    echo "ok   info-without-service"
  fi
  expect journal-not-kept 4 "" "pelliton-cli: this build keeps no journal" journal
fi

[ $failures -eq 0 ] || { echo "$failures failed"; exit 1; }
