#!/usr/bin/env bash
# Builds tlqconverter and converts the bundled sample recording.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release >/dev/null
build/release/src/tlqconverter examples/sample.tlq
echo "CSV written to: $(pwd)/examples/sample.csv"
