#!/usr/bin/env bash
# Line coverage of the whole test suite (unit, process and corpus tests),
# measured with gcovr: a summary of the portable core and of the platform
# layer, and an HTML report in build/coverage/coverage.html.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh coverage
bash scripts/build.sh coverage
find build/coverage -name '*.gcda' -delete
ctest --preset coverage --parallel "$(nproc)" | tail -3

report() {  # title, then gcovr filters
  local title=$1
  shift
  local line
  # (gcovr replaces its output file: never give it /dev/null)
  line=$(gcovr --root . --object-directory build/coverage --exclude '.*_test\.cpp' --exclude 'src/test_support.*' \
    "$@" --print-summary --output build/coverage/summary.txt 2>/dev/null | grep '^lines:')
  printf '%-44s %s\n' "$title" "$line"
}
report "core (app, convert, sensors, csv, text, error)" \
  --filter 'src/(app|convert|sensors|csv)/' --filter 'src/(text|error)\.cpp'
report "platform layer" --filter 'src/platform/'
gcovr --root . --object-directory build/coverage --filter 'src/' --exclude '.*_test\.cpp' \
  --exclude 'src/test_support.*' --html-details build/coverage/coverage.html >/dev/null 2>&1
echo "details: build/coverage/coverage.html"
