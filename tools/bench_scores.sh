#!/usr/bin/env bash
# Measures ombrix-scores on the loopback, on SQLite and then on a throw-away PostgreSQL
# server: bash tools/bench_scores.sh [--requests N] [--seconds S]
# Builds the server and the load generator (no sanitizers) into build/ first.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target scores_bench ombrix-scores >/dev/null
pg_dir=$(mktemp -d /tmp/ombrix-pg-bench-XXXXXX)
trap 'bash tests/server/pgTemp.sh stop "$pg_dir"' EXIT
build/bench/server/scores_bench "$@"
url=$(bash tests/server/pgTemp.sh start "$pg_dir")
build/bench/server/scores_bench --database "$url" "$@"
