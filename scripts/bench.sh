#!/usr/bin/env bash
# Builds the release and measures whole conversions: recordings of 1, 20,
# 200 and 1000 MB against the machine's own read-and-write floor, jq and the
# Python model (see tools/bench_process.py; its options pass through).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release
if ! command -v jq >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends jq >/dev/null
fi
python3 tools/bench_process.py build/release "$@"
