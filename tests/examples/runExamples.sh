#!/usr/bin/env bash
# Runs every example package through --check and a headless --strict run of 300 frames.
#   runExamples.sh PLAYER EXAMPLES-FOLDER INPUTS-FOLDER
# Run from the build folder, where the packages are. An example may have, in INPUTS-FOLDER,
# NAME.input (replayed key and mouse events) and NAME.wiimote (a simulated remote), so its
# callbacks run too and not just its set-up. Sound goes to OpenAL's null device and scores
# to a port where nothing listens, so the outcome depends on neither a sound card nor the
# network. Every failing example is named before the script fails.
set -u
player=$1 examples=$2 inputs=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 count=0
for dir in "$examples"/*/; do
  name=$(basename "$dir")
  count=$((count + 1))
  if [ ! -f "$name.qvp" ]; then
    echo "FAIL $name: $name.qvp was not built"; failed=1; continue
  fi
  if ! "$player" --check "$name" > "$work/check.txt" 2>&1; then
    echo "FAIL $name: --check"; cat "$work/check.txt"; failed=1; continue
  fi
  args=(--nowindow --fixed-clock --frames 300 --strict --score-server 127.0.0.1:9)
  [ -f "$inputs/$name.input" ] && args+=(--input "$inputs/$name.input")
  # The simulation writes FILE.out beside its input: work on a copy, not in the sources.
  if [ -f "$inputs/$name.wiimote" ]; then
    cp "$inputs/$name.wiimote" "$work/remote.txt"
    args+=(--wiimote-sim "$work/remote.txt")
  fi
  env ALSOFT_DRIVERS=null "$player" "${args[@]}" "$name" > "$work/run.txt" 2>&1
  status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL $name: headless run exited $status"; cat "$work/run.txt"; failed=1; continue
  fi
  echo "ok   $name"
done
if [ "$count" -eq 0 ]; then echo "FAIL: no examples found in $examples"; exit 1; fi
exit $failed
