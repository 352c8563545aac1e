#!/usr/bin/env bash
# Sets up a fresh Debian machine, starts the local PostgreSQL server, builds, and runs every
# test: unit tests and scenario files on SQLite and PostgreSQL, and the browser tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
SHENBAO_TEST_PG="$(tools/start-postgres.sh)"
export SHENBAO_TEST_PG
tools/build.sh
cd build
ctest --output-on-failure -j2
