#!/usr/bin/env bash
# Several servers on one register: starts PostgreSQL, N `shenbao serve` processes on one
# database and HAProxy in front of them (tools/haproxy.cfg), and stops them all on Ctrl-C.
#
#   tools/cluster.sh 2        # browsers use http://127.0.0.1:8080/; servers on 8081, 8082
#
# Environment:
#   SHENBAO_DB       the PostgreSQL database (URL); without it the local server is started
#                    (tools/start-postgres.sh) and its database shenbao_cluster used, made
#                    with the demo data when it has no tables
#   SHENBAO_PORT     HAProxy's port (8080); server i listens on SHENBAO_PORT + i
#   SHENBAO_BIN      the shenbao program (build/shenbao, built when missing)
#   SHENBAO_RUN_DIR  where the servers' logs, pid files and HAProxy's configuration go
#                    (a new temporary folder)
# Prints "cluster ready http://…/" once HAProxy listens and every server is healthy, in its own
# checks as well as asked directly.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-2}
[[ "$count" =~ ^[1-9][0-9]?$ ]] || { echo "usage: tools/cluster.sh N (1 to 99 servers)" >&2; exit 2; }
port=${SHENBAO_PORT:-8080}
bin=${SHENBAO_BIN:-build/shenbao}
[ -x "$bin" ] || tools/build.sh >&2
run_dir=${SHENBAO_RUN_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/shenbao-cluster-XXXXXX")}
mkdir -p "$run_dir"

db=${SHENBAO_DB:-}
if [ -z "$db" ]; then
  test_db=$(tools/start-postgres.sh)
  db=${test_db%/*}/shenbao_cluster
  psql "$test_db" -qtAc "select 1 from pg_database where datname = 'shenbao_cluster'" | grep -q 1 ||
    psql "$test_db" -qc "create database shenbao_cluster"
  psql "$db" -qtAc "select count(*) from information_schema.tables where table_name = 'sys_user'" | grep -q '^1' ||
    "$bin" init "$db" --demo >&2
fi

pids=()
stop() {
  trap - INT TERM EXIT
  # SIGTERM: each server ends its sessions and gives up its seats; the database keeps what
  # was saved.
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap stop INT TERM EXIT

cp tools/haproxy.cfg "$run_dir/haproxy.cfg"
for i in $(seq 1 "$count"); do
  server_port=$((port + i))
  "$bin" serve "$db" --host 127.0.0.1 --port "$server_port" --trusted-proxy 127.0.0.1 \
    --log "$run_dir/server$i.log" >"$run_dir/server$i.out" 2>&1 &
  pids+=($!)
  echo "$!" >"$run_dir/server$i.pid"
  echo "  server s$i 127.0.0.1:$server_port cookie s$i" >>"$run_dir/haproxy.cfg"
done
SHENBAO_PROXY_ADDR="127.0.0.1:$port" haproxy -f "$run_dir/haproxy.cfg" -db >"$run_dir/haproxy.out" 2>&1 &
pids+=($!)
echo "$!" >"$run_dir/haproxy.pid"

# Ready once every server answers its health check and HAProxy answers.
for _ in $(seq 1 200); do
  ready=1
  for i in $(seq 1 "$count"); do
    curl -fsS -o /dev/null "http://127.0.0.1:$((port + i))/api/health" 2>/dev/null || ready=0
  done
  curl -fsS -o /dev/null "http://127.0.0.1:$port/api/health" 2>/dev/null || ready=0
  # HAProxy's own checks must find every server up too: a browser held to server i is sent there
  # (no new cookie), not to another one.
  for i in $(seq 1 "$count"); do
    curl -fsS -D - -o /dev/null -H "Cookie: SHENBAO_SERVER=s$i" "http://127.0.0.1:$port/api/health" 2>/dev/null |
      grep -qi '^set-cookie: SHENBAO_SERVER=' && ready=0
  done
  [ "$ready" = 1 ] && break
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || { echo "a process ended at start; see $run_dir" >&2; cat "$run_dir"/*.out >&2; exit 1; }
  done
  sleep 0.1
done
[ "$ready" = 1 ] || { echo "the cluster did not come up; see $run_dir" >&2; exit 1; }
echo "cluster ready http://127.0.0.1:$port/ ($count servers, logs in $run_dir)"
wait
