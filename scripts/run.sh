#!/usr/bin/env bash
# The main job: builds the system, starts the driver host on the simulated
# hardware of the default machine (one PCI CAN card, four DS402 drives, an
# I/O module and a handwheel gateway) unless one already serves the
# namespace, runs path_run (CNC mode, reset, homing, a part program of lines,
# arcs and a helix through the path buffer, a log of the commanded and actual
# positions), plots the log, stops the driver host again if it started it
# and names the two files.
#
#   scripts/run.sh [OUTPUT-FOLDER]    (default: the working directory)
set -euo pipefail
output=$(realpath -m "${1:-.}")
cd "$(dirname "$0")/.."
mkdir -p "$output"

scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"

# A namespace of its own, so that it never meets tests or other runs.
export VANTOR_NAMESPACE="${VANTOR_NAMESPACE:-demo-$$}"
# The watching program is a Qt program; without a display it runs offscreen.
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
fi

host_log=$(mktemp)
host=
stop_host() {
  if [[ -n "$host" ]]; then
    kill -TERM "$host" 2>/dev/null || true
    wait "$host" 2>/dev/null || true
    host=
  fi
  rm -f "$host_log"
}
trap stop_host EXIT

"$build/bin/devhost" 2>"$host_log" &
host=$!
# Wait until it serves its devices, or until it finds another driver host
# serving the namespace (then that one is used).
for _ in $(seq 200); do
  if grep -q "^devhost: serving namespace" "$host_log"; then
    echo "Started devhost in namespace \"$VANTOR_NAMESPACE\"."
    break
  fi
  if ! kill -0 "$host" 2>/dev/null; then
    wait "$host" || true
    host=
    if grep -q "another devhost already runs" "$host_log"; then
      echo "Using the devhost that already runs in namespace \"$VANTOR_NAMESPACE\"."
      break
    fi
    echo "devhost did not start:" >&2
    cat "$host_log" >&2
    exit 1
  fi
  sleep 0.05
done
if [[ -n "$host" ]] && ! grep -q "^devhost: serving namespace" "$host_log"; then
  echo "devhost does not serve its devices after 10 s:" >&2
  cat "$host_log" >&2
  exit 1
fi

echo
status=0
"$build/bin/path_run" "$output" || status=$?
stop_host
trap - EXIT
echo
if ((status != 0)); then
  echo "path_run failed (exit code $status)." >&2
  exit "$status"
fi
gnuplot -e "csv='$output/path_run.csv'; png='$output/path_run.png'" "$build/bin/path_run.gp"
echo "Positions: $output/path_run.csv"
echo "Plot:      $output/path_run.png"
