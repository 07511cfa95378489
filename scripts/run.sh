#!/usr/bin/env bash
# The main job: builds the system and runs the driver host on the simulated
# hardware of the default machine (one PCI CAN card, three DS402 drives, an
# I/O module and a handwheel gateway), then shows what crossed the bus.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"

export VANTOR_NAMESPACE="${VANTOR_NAMESPACE:-demo-$$}"
frames=$(mktemp)
trap 'rm -f "$frames"' EXIT

"$build/bin/devhost" --candump "$frames" &
host=$!
sleep 2
kill -TERM "$host"
wait "$host"

echo
echo "Frames on the simulated bus (candump format):"
cat "$frames"
