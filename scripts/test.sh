#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer,
# warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Let ccache reuse objects built in another clone of the tree.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

build=build/asan
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DVANTOR_SANITIZE=ON \
  -DVANTOR_WERROR=ON
cmake --build "$build"

jobs=$(nproc)
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs"
