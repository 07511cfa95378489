#!/usr/bin/env bash
# The main job: builds the system and runs it on the simulated hardware.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"

echo "Built programs and libraries in $build/bin:"
ls "$build/bin" 2>/dev/null || true
