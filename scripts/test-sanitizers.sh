#!/usr/bin/env bash
# The whole unit and process suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the conversion tests with
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in asan tsan; do
  bash scripts/build.sh "$preset"
  ctest --preset "$preset" --parallel "$(nproc)"
done
