#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds shenbao, creates demo.db with generated demo data
# (once) and serves it. Usage: tools/demo.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
[ -f demo.db ] || build/shenbao init demo.db --demo
cat <<'LOGINS'
Demo logins: clerk001 / clerk001pass, clerk002 / clerk002pass (clerks of units 001, 002),
clerk003 / clerk003pass ... clerk007 / clerk007pass (generated units), authority / authoritypass
(the personnel authority, who alone accepts declarations).
LOGINS
exec build/shenbao serve demo.db --port "${1:-8080}"
