#!/usr/bin/env bash
# Sets up, builds and plays the default game (or the arguments given, as for ombrix).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cd build
exec ./ombrix "$@"
