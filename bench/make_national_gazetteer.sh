#!/usr/bin/env bash
# Writes a national-size gazetteer in today's Domestic Names layout: the header,
# then the records of the bundled current MA, HI and RI files repeated until
# about RECORDS records. Like the real national file, its ids are dense and
# ascending per state: each distinct id becomes its rank, and each round adds
# the count of distinct ids, so the copies are new features while the features
# the states' own files share stay shared. Each round also moves its copies a
# little north (0.0001 degree a round), so no copy duplicates another feature
# in place. Usage: make_national_gazetteer.sh RECORDS OUT.txt
set -euo pipefail
cd "$(dirname "$0")/.."
records=$1 out=$2
bucket=data/mirror/StagedProducts/GeographicNames/DomesticNames
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for st in MA HI RI; do
  unzip -p "$bucket/DomesticNames_${st}_Text.zip" "Text/DomesticNames_${st}.txt" > "$tmp/$st.txt"
done
head -n 1 "$tmp/MA.txt" > "$out"
for st in MA HI RI; do tail -n +2 "$tmp/$st.txt"; done > "$tmp/round"
per=$(wc -l < "$tmp/round")
rounds=$(( (records + per - 1) / per ))
cut -d'|' -f1 "$tmp/round" | sort -n -u | awk '{ print $1 "|" NR }' > "$tmp/ranks"
awk -F'|' -v rounds="$rounds" -v limit="$records" '
  NR == FNR { rank[$1] = $2; distinct = FNR; next }
  { line[++lines] = $0 }
  END {
    n = 0
    for (k = 0; k < rounds; k++)
      for (i = 1; i <= lines && n < limit; i++) {
        nf = split(line[i], f, "|")
        f[1] = rank[f[1]] + k * distinct
        if (k > 0 && f[16] + 0 != 0)
          f[16] = sprintf("%.7f", f[16] + k * 0.0001)
        out = f[1]
        for (j = 2; j <= nf; j++) out = out "|" f[j]
        print out
        n++
      }
  }' "$tmp/ranks" "$tmp/round" >> "$out"
