#!/usr/bin/env bash
# Installs what shenbao needs on Debian 12: compilers, libraries, a PostgreSQL server, fonts,
# Chromium for the browser tests, HAProxy (in front of several servers: tools/cluster.sh, and
# its test), python3-openpyxl to read exported sheets back in the tests, and
# the npm packages of the browser tests.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(cmake g++ pkg-config libsqlite3-dev libpq-dev postgresql
  libcairo2-dev libpango1.0-dev fonts-noto-cjk fonts-arphic-ukai
  libboost1.81-dev nlohmann-json3-dev libsodium-dev libxlsxwriter-dev python3-openpyxl
  libgtest-dev libgmock-dev libbenchmark-dev poppler-utils chromium wrk haproxy curl)
# The machines come with Node.js and npm; Debian's own are needed only where they do not.
command -v npm >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Every package of the lock file, also when one was added since node_modules was made.
if [ -f package-lock.json ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
