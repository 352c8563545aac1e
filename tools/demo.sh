#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds shenbao, creates demo.db with generated demo data
# (once) and serves it. Usage: tools/demo.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
[ -f demo.db ] || build/shenbao init demo.db --demo
exec build/shenbao serve demo.db --port "${1:-8080}"
