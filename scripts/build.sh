#!/usr/bin/env bash
# Installs what the build needs, then configures and builds one preset
# (default: release).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
