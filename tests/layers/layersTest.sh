#!/usr/bin/env bash
# layersTest.sh PYTHON ROOT: the tree passes the layering check; copies of its folders with
# one forbidden link each fail it, naming the file and the link.
set -u
python=$1
root=$(cd "$2" && pwd)
check="$root/tools/check-layers.py"
"$python" "$check" "$root" || { echo "the tree breaks its layering"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
# spoil COPY: a shell command run in the copy; expect: a text the check must print.
cases=(
  'echo "#include \"graphics/sceGraphics.h\"" >> physics/scePhysics.cpp|physics/scePhysics.cpp:.*includes graphics/'
  'echo "#include \"host/gHost.h\"" >> script/vm/gmMachine.h|script/vm/gmMachine.h:.*includes host/'
  'echo "#include \"physics/objPhysics.h\"" >> audio/_gAudio.cpp|audio/_gAudio.cpp:.*includes physics/'
  'sed -i "s/DEPS ombrix_binding/DEPS ombrix_host ombrix_binding/" physics/CMakeLists.txt|physics/CMakeLists.txt: links host'
)
for c in "${cases[@]}"; do
  spoil=${c%%|*} expect=${c#*|}
  copy="$scratch/tree"
  rm -rf "$copy"
  mkdir -p "$copy"
  cp "$root/CMakeLists.txt" "$copy/"
  for d in platform script binding scene clock input graphics physics audio network host server; do
    [ -d "$root/$d" ] && cp -r "$root/$d" "$copy/"
  done
  out=$(cd "$copy" && eval "$spoil" && "$python" "$check" "$copy")
  status=$?
  if [ "$status" -eq 0 ] || ! grep -q -- "$expect" <<<"$out"; then
    echo "not refused: $spoil"
    echo "$out"
    failed=1
  fi
done
exit "$failed"
