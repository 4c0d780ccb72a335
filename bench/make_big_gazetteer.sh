#!/usr/bin/env bash
# Writes a large gazetteer text: the header of a state file, then its records
# repeated COPIES times. Usage: make_big_gazetteer.sh STATE.zip COPIES OUT.txt
set -euo pipefail
zip=$1 copies=$2 out=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unzip -q -o "$zip" -d "$tmp"
txt=$(ls "$tmp"/*.txt | head -n 1)
head -n 1 "$txt" > "$out"
tail -n +2 "$txt" > "$tmp/records"
for ((i = 0; i < copies; i++)); do cat "$tmp/records"; done >> "$out"
