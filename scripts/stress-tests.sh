#!/usr/bin/env bash
# Runs the whole test suite several rounds in the Release and in the
# sanitizer build while the machine is loaded, and lists every test that
# failed even once.
#
#   scripts/stress-tests.sh [ROUNDS] [LOAD]
#
# ROUNDS  rounds per build (default 5)
# LOAD    cpu    stress-ng keeps every core busy (default)
#         suite  a second copy of the suite runs beside each round
#         none   no extra load
# Exit code 0 when no test failed; the failures are listed at the end.
#
# STRESS_CPUS     a CPU list for taskset (e.g. 4-7): the builds, the suites
#                 and the load keep to those CPUs, so the script can run
#                 beside other work; the job counts follow the list's size
# VANTOR_NAMESPACE  the suite's namespace (default "stress"); the copy that
#                 runs beside it takes the same name with a "2" appended
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-5}
load=${2:-cpu}
case "$rounds" in '' | *[!0-9]*) echo "ROUNDS must be a number" >&2; exit 2 ;; esac
case "$load" in cpu | suite | none) ;; *) echo "LOAD is cpu, suite or none" >&2; exit 2 ;; esac

scripts/install-deps.sh
if [[ "$load" == cpu ]] && ! command -v stress-ng >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends stress-ng
fi

# Everything that runs below keeps to STRESS_CPUS when given.
pinned=()
jobs=$(nproc)
if [[ -n "${STRESS_CPUS:-}" ]]; then
  pinned=(taskset -c "$STRESS_CPUS")
  jobs=$("${pinned[@]}" nproc) || { echo "STRESS_CPUS is not a CPU list: $STRESS_CPUS" >&2; exit 2; }
fi
suite_namespace=${VANTOR_NAMESPACE:-stress}

export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
declare -A configure=(
  [build/release]="-DCMAKE_BUILD_TYPE=Release"
  [build/asan]="-DCMAKE_BUILD_TYPE=Debug -DVANTOR_SANITIZE=ON -DVANTOR_WERROR=ON"
)
for build in build/release build/asan; do
  # shellcheck disable=SC2086
  cmake -S . -B "$build" -G Ninja ${configure[$build]} >/dev/null
  "${pinned[@]}" cmake --build "$build" -j "$jobs"
done

log_folder=$(mktemp -d)
loader=
stop_load() {
  if [[ -n "$loader" ]]; then
    kill "$loader" 2>/dev/null || true
    wait "$loader" 2>/dev/null || true
    loader=
  fi
}
# The logs of a run with failures are kept for a look; a clean run leaves none.
trap 'stop_load; [[ -s "$log_folder/failed" ]] || rm -rf "$log_folder"' EXIT

if [[ "$load" == cpu ]]; then
  "${pinned[@]}" stress-ng --cpu "$jobs" --quiet &
  loader=$!
fi

failures=()
for build in build/release build/asan; do
  for round in $(seq "$rounds"); do
    log="$log_folder/$(basename "$build")-$round.log"
    beside=
    if [[ "$load" == suite ]]; then
      VANTOR_NAMESPACE="${suite_namespace}2" "${pinned[@]}" \
        ctest --test-dir "$build" -j "$jobs" >"$log.beside" 2>&1 &
      beside=$!
    fi
    VANTOR_NAMESPACE="$suite_namespace" "${pinned[@]}" \
      ctest --test-dir "$build" -j "$jobs" --output-on-failure >"$log" 2>&1 || true
    if [[ -n "$beside" ]]; then
      wait "$beside" || true
      grep -E '^[[:space:]]+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' \
        "$log.beside" | sed "s|^|$build beside round $round: |" >>"$log_folder/failed" || true
    fi
    grep -E '^[[:space:]]+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' \
      "$log" | sed "s|^|$build round $round: |" >>"$log_folder/failed" || true
    summary=$(grep -E 'tests passed' "$log" || echo "no summary")
    echo "$build round $round: $summary"
  done
done
stop_load

if [[ -s "$log_folder/failed" ]]; then
  echo
  echo "Tests that failed (their output is in $log_folder):"
  sed 's/  */ /g' "$log_folder/failed"
  exit 1
fi
echo "No test failed in $rounds round(s) of each build under load \"$load\"."
