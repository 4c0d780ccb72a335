#!/usr/bin/env bash
# Writes a large gazetteer text: the header of a state file, then its records
# repeated COPIES times, each copy with ids of its own (its ids moved past the
# highest GNIS id, under three million), so no copy is a duplicate of another.
# Usage: make_big_gazetteer.sh STATE.zip COPIES OUT.txt
set -euo pipefail
zip=$1 copies=$2 out=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unzip -q -o "$zip" -d "$tmp"
txt=$(ls "$tmp"/*.txt | head -n 1)
head -n 1 "$txt" > "$out"
tail -n +2 "$txt" > "$tmp/records"
awk -F'|' -v copies="$copies" '
  { line[NR] = $0 }
  END {
    for (k = 0; k < copies; k++)
      for (i = 1; i <= NR; i++) {
        split(line[i], f, "|")
        print (f[1] + k * 3000000) substr(line[i], length(f[1]) + 1)
      }
  }' "$tmp/records" >> "$out"
