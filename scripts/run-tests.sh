#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# --sanitize runs the same tests in a build under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
dir=$(bash scripts/build.sh "$@" | tail -n 1)

# The private PostgreSQL cluster with PostGIS, for the database tests; stopped at the end.
root=$(pwd)
eval "$(bash scripts/pg-start.sh | sed 's/^/export /')"
trap 'rc=$?; bash "$root/scripts/pg-stop.sh"; exit $rc' EXIT

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$dir"
ctest --output-on-failure -j2
