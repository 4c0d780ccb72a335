#!/usr/bin/env bash
# The private cluster's scripts never empty a folder they did not make.
# Usage: check_pg_scripts.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_pg_scripts: $*" >&2; exit 1; }

mkdir "$work/mine"
echo "my notes" > "$work/mine/notes.txt"
if GNIS_PG_DIR=$work/mine GNIS_PG_PORT=1 bash "$src/scripts/pg-start.sh" >"$work/out" 2>&1; then
  fail "pg-start took a folder of the user's"
fi
grep -q "was not made by pg-start" "$work/out" || fail "pg-start did not say why: $(cat "$work/out")"
GNIS_PG_DIR=$work/mine bash "$src/scripts/pg-stop.sh" 2>/dev/null
[ "$(cat "$work/mine/notes.txt")" = "my notes" ] || fail "the user's folder lost its contents"
echo "pg scripts leave foreign folders alone"
