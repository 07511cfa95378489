#!/usr/bin/env bash
# Runs every fuzz target for longer than the test suite does, at most three
# at once: scripts/fuzz.sh [seconds per target, default 300] [build folder].
#
# New corpus entries stay in <build>/fuzz/corpus/<target>/ from run to run;
# findings (crashes, time-outs, leaks) land in <build>/fuzz/findings/<target>/
# and make the script fail. A finding belongs in the target's committed
# corpus once its fault is mended. Each target's last lines (executions,
# coverage) are in <build>/fuzz/logs/<target>.log.
set -euo pipefail

seconds=${1:-300}
build=${2:-build/fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [[ ! -f "$build/fuzz/targets.txt" ]]; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTOR_BENCHMARKS=OFF >/dev/null
fi
mapfile -t targets < <(grep -v '^$' "$build/fuzz/targets.txt")
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "no fuzz targets (is clang++ installed?)" >&2
  exit 1
fi
names=()
for entry in "${targets[@]}"; do names+=("${entry%%|*}"); done
cmake --build "$build" -j 3 --target "${names[@]}"

run_one() {
  local name=$1 program=$2 seeds=$3 max_len=$4
  local corpus="$build/fuzz/corpus/$name" findings="$build/fuzz/findings/$name"
  mkdir -p "$corpus" "$findings" "$build/fuzz/logs"
  "$program" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -timeout=25 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds" \
    >"$build/fuzz/logs/$name.log" 2>&1
}

failed=0
running=0
for entry in "${targets[@]}"; do
  IFS='|' read -r name program seeds max_len <<<"$entry"
  run_one "$name" "$program" "$seeds" "$max_len" &

  running=$((running + 1))
  if [[ $running -ge 3 ]]; then
    if ! wait -n; then failed=1; fi
    running=$((running - 1))
  fi
done
while [[ $running -gt 0 ]]; do
  if ! wait -n; then failed=1; fi
  running=$((running - 1))
done

for entry in "${targets[@]}"; do
  name=${entry%%|*}
  log="$build/fuzz/logs/$name.log"
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -E '^#[0-9]+.*cov:' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  # Slow units are kept for a look, but only crashes, leaks, time-outs and
  # memory exhaustion count as findings.
  found=$(ls "$build/fuzz/findings/$name" 2>/dev/null | grep -cv '^slow-unit-' || true)
  printf '%-30s executions %-10s %-22s findings %s\n' "$name" "${execs:-?}" "${cov:-?}" "$found"
  if [[ $found -gt 0 ]]; then failed=1; fi
done
exit $failed
