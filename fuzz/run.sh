#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang 16, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 20) from
# seeds made by the project's generators. New inputs gather in
# build/fuzz/corpus/<target>; a failing input lands in build/fuzz/findings.
#
#   bash fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(base64 frames decoders csv_line cell_text reg_store command_line conversion entry_scan entry_check)

bash scripts/install-deps.sh fuzz
bash scripts/build.sh fuzz

out=build/fuzz
[ -d "$out/seeds" ] || python3 fuzz/make_seeds.py "$out/seeds"
mkdir -p "$out/findings"
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus/$t"
  seeds=()
  [ -d "$out/seeds/$t" ] && seeds=("$out/seeds/$t")
  log="$out/$t.log"
  if "$out/fuzz/${t}_fuzz" "$out/corpus/$t" "${seeds[@]}" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=3072 -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/findings/$t-" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
    printf '%-13s ok      %10s runs %6s features\n' "$t" "$runs" "$features"
  else
    printf '%-13s FAILED  (see %s)\n' "$t" "$log"
    grep -E 'property does not hold|ERROR: |SUMMARY' "$log" | head -5 || true
    failed=1
  fi
done
exit $failed
