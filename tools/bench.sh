#!/usr/bin/env bash
# Runs every benchmark one after the other and prints one table: each figure, its baseline
# (hand-written code doing the same work) measured in the same run, and their ratio. Each
# benchmark's whole output is kept in the folder named at the end.
#
#   tools/bench.sh [BUILD_DIR]        (default: build; SHENBAO_TEST_PG adds PostgreSQL figures)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=$(mktemp -d /tmp/shenbao-bench.XXXXXX)
# Google Benchmark programs also write their figures as JSON; the others print table lines only.
google=(runtime_bench report_bench session_bench acceptance_bench personnel_plan_bench reward_bench training_bench
  inbox_bench export_bench)
others=(contention_bench paging_bench server_bench)
for b in "${google[@]}" "${others[@]}"; do
  args=()
  case " ${google[*]} " in *" $b "*) args=(--benchmark_out="$out/$b.json" --benchmark_out_format=json) ;; esac
  case $b in paging_bench | server_bench) args=(--shenbao "$build/shenbao") ;; esac
  echo "running $b..." >&2
  "$build/$b" "${args[@]}" >"$out/$b.txt" 2>&1 || echo "$b failed: see $out/$b.txt" >&2
done
echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(sed -n 's/^model name\t: //p' /proc/cpuinfo | head -1); outputs in $out"
echo
python3 tools/bench_table.py "$out" "${google[@]}" "${others[@]}"
