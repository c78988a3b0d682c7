#!/usr/bin/env bash
# Configures and builds one preset (default: release): all of it, or only
# the targets named after it. Installs what building needs first (the
# compilers and libraries: install-deps.sh build-only; the tests' own tools
# are the test scripts' to install). The output of both steps goes to
# build/<preset>/build.log, not to the screen: a line says what is being
# built, and when a step fails, the end of the log follows.
#
#   build.sh [PRESET [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
shift || true
targets=("$@")

bash scripts/install-deps.sh build-only
log="build/$preset/build.log"
mkdir -p "build/$preset"
what="everything"
((${#targets[@]})) && what="${targets[*]}"
echo "Building $what (preset $preset; the output goes to $log)"
start=$SECONDS
step() {  # a command, its output to the log; on failure the log's end
  if ! "$@" >>"$log" 2>&1; then
    echo "build.sh: failed: $*; the end of $log:" >&2
    tail -n 50 "$log" >&2
    exit 1
  fi
}
: >"$log"
step cmake --preset "$preset"
if ((${#targets[@]})); then
  step cmake --build --preset "$preset" --target "${targets[@]}"
else
  step cmake --build --preset "$preset"
fi
echo "Built in $((SECONDS - start)) s"
