#!/usr/bin/env bash
# Builds the program alone (the target tlqconverter of the release preset,
# not its tests and benchmarks) and converts the bundled sample recording.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release tlqconverter
echo "Converting examples/sample.tlq"
build/release/src/tlqconverter examples/sample.tlq
echo "CSV written to: $(pwd)/examples/sample.csv"
