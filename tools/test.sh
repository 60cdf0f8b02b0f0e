#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: a normal build, where a shadowed
# name or any other warning of our own code fails the build, then one under
# AddressSanitizer and UndefinedBehaviorSanitizer, where the script conformance tests run
# once more with a full collection before every allocation; then the Wiimote driver's tests
# (the only code with threads) under ThreadSanitizer, in a build of just their target. The
# layering check and the formatting check (.clang-format) run first. Exits non-zero on the
# first failure.
#
# --stress: the same, three times in a row, while stress-ng keeps the machine saturated
# (four CPU workers and one I/O worker, on top of the tests' own jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

if [ "${1:-}" = "--stress" ]; then
  stress-ng --cpu 4 --io 1 --timeout 0 --quiet &
  load=$!
  trap 'kill "$load" 2>/dev/null; wait "$load" 2>/dev/null || true' EXIT
  for run in 1 2 3; do
    echo "== run $run of 3 under load"
    bash tools/test.sh
  done
  echo "== 3 runs passed under load"
  exit 0
fi

summaries=()

# build_and_test FOLDER LABEL CMAKE-OPTIONS...: the ctest log stays in FOLDER/ctest.log.
# With TARGET and TESTS set, only that target is built and only the tests matching TESTS run.
build_and_test() {
  local dir=$1 label=$2
  shift 2
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$jobs" ${TARGET:+--target "$TARGET"}
  local status=0
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 ${TESTS:+-R "$TESTS"}) 2>&1 |
    tee "$dir/ctest.log" || status=$?
  summaries+=("$label: $(grep -E '^[0-9]+% tests passed' "$dir/ctest.log" | tail -n 1 || true)")
  if ((status != 0)); then
    printf '%s\n' "${summaries[@]}"
    exit "$status"
  fi
}

python3 tools/check-layers.py
bash tools/format.sh --check
build_and_test build normal -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_WERROR=ON
build_and_test build-asan sanitizers -DCMAKE_BUILD_TYPE=Debug -DOMBRIX_SANITIZE=ON -DOMBRIX_BENCH=OFF -DOMBRIX_GC_STRESS=ON
TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" TARGET=wiimote_tests TESTS='^wiimote\.' \
  build_and_test build-tsan threads -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_TSAN=ON -DOMBRIX_BENCH=OFF
echo
printf '%s\n' "${summaries[@]}"
