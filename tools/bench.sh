#!/usr/bin/env bash
# Script interpreter speed against Lua 5.4: builds ombrix-script in release mode into
# build-bench, installs lua5.4 when it is missing, then checks and times every kernel of
# bench/vm (the options are those of tools/bench_vm.py, passed through; see --help).
#
#   bash tools/bench.sh                   # all kernels, 5 interleaved runs each
#   bash tools/bench.sh --runs 9 fib loop # chosen kernels, more runs
#   bash tools/bench.sh --callgrind       # instruction counts instead of times
set -euo pipefail
cd "$(dirname "$0")/.."

for arg in "$@"; do
  if [[ $arg == -h || $arg == --help ]]; then
    exec python3 tools/bench_vm.py --help
  fi
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
install_packages() {
  echo "Installing: $*"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@"
}

bash tools/setup.sh
command -v lua5.4 >/dev/null || install_packages lua5.4

# Only the runner is built: the player, tests and microbenchmarks are not needed here. A
# runner that does not build still leaves Lua's column to look at.
ours=build-bench/ombrix-script
log=build-bench/build.log
mkdir -p build-bench
if ! { cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DOMBRIX_TESTS=OFF -DOMBRIX_BENCH=OFF &&
       cmake --build build-bench --target ombrix-script -j "$(nproc)"; } >"$log" 2>&1; then
  echo "ombrix-script did not build (see $log); timing Lua alone." >&2
  tail -n 15 "$log" >&2
  ours=
fi

exec python3 tools/bench_vm.py --ours "$ours" --lua lua5.4 "$@"
