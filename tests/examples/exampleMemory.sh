#!/usr/bin/env bash
# Plays every example package for 3000 frames headless and checks that its script memory
# stays flat: nothing collects garbage unless a script asks, so an example that makes
# texts, vectors or objects every frame without collecting grows for as long as it runs.
#   exampleMemory.sh PLAYER EXAMPLES-FOLDER INPUTS-FOLDER ASSETS-FOLDER
# Each example runs from a folder (--dev) holding the made assets, its start.qv renamed
# example.qv, and a start.qv that loads it and prints the machine's memory use every 100
# frames. The largest figure of the last 1000 frames may not pass the largest of frames 500
# to 1500 by more than 16 KiB (about 10 bytes a frame): a collected heap swings between its
# limits, while a text or a vector made every frame and never collected adds 24 bytes or
# more a frame.
set -u
player=$1 examples=$2 inputs=$3 assets=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 count=0
for dir in "$examples"/*/; do
  name=$(basename "$dir")
  count=$((count + 1))
  game="$work/$name"
  mkdir -p "$game"
  cp "$assets"/* "$game"/ && rm -f "$game/stamp"
  cp "$dir/start.qv" "$game/example.qv"
  # print of a constant text and ints makes no garbage of its own.
  cat > "$game/start.qv" <<'QV'
LoadScript("example.qv");
global memoryProbe = function(probe) { probe.frame += 100; print("memory", probe.frame, sysGetMemoryUsage()); };
Clock.AddTimer(TIMER_CYCLIC, 3000, "memoryProbe", table(frame = 0));
QV
  args=(--dev --nowindow --fixed-clock --frames 3000 --score-server 127.0.0.1:9)
  [ -f "$inputs/$name.input" ] && args+=(--input "$inputs/$name.input")
  if [ -f "$inputs/$name.wiimote" ]; then
    cp "$inputs/$name.wiimote" "$work/remote.txt"
    args+=(--wiimote-sim "$work/remote.txt")
  fi
  (cd "$work" && env ALSOFT_DRIVERS=null "$player" "${args[@]}" "$name" > "$work/run.txt" 2>/dev/null)
  verdict=$(awk '
    $1 == "memory" && $2 >= 500 && $2 <= 1500 && $3 > early { early = $3 }
    $1 == "memory" && $2 > 2000 && $3 > late { late = $3 }
    END {
      if (!early || !late) { print "no memory figures"; exit }
      if (late > early + 16384) printf "grows from %d to %d bytes\n", early, late; else printf "ok %d %d\n", early, late
    }' "$work/run.txt")
  case $verdict in
    ok*) echo "ok   $name (${verdict#ok })" ;;
    *) echo "FAIL $name: $verdict"; tail -5 "$work/run.txt"; failed=1 ;;
  esac
done
if [ "$count" -eq 0 ]; then echo "FAIL: no examples found in $examples"; exit 1; fi
exit $failed
