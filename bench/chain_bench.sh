#!/usr/bin/env bash
# "GNIS --> GPX" for Massachusetts from a loopback HTTP server, stage by stage,
# against curl + unzip + the conversion of the unpacked text, in the same run
# (without the download cache). Then the national-size archive from the same
# server with the cache: the first run fetches it, the later ones are answered
# "304 Not Modified" (Python's server honours If-Modified-Since) and are measured
# against the conversion of the same archive alone.
# Usage: bench/chain_bench.sh [BUILD_DIR] [RUNS] [RECORDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
records=${3:-1000000}
convert="$(pwd)/$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
# The served folder: the bundled mirror, and a national-size archive in the bucket's layout.
served="$work/served"
mkdir -p "$served/StagedProducts/GeographicNames/DomesticNames" "$work/national/Text"
cp -r data/mirror/docs "$served/"
bash bench/make_national_gazetteer.sh "$records" "$work/national/Text/DomesticNames_National.txt"
national="$served/StagedProducts/GeographicNames/DomesticNames/DomesticNames_National_Text.zip"
(cd "$work/national" && zip -q -r "$national" Text)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$served" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
base="http://127.0.0.1:$port"
url="$base/docs/stategaz/MA_Features_20090401.zip"
for _ in $(seq 50); do curl -s -o /dev/null "$url" && break; sleep 0.1; done
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" # no settings.ini of the user's in the way

. bench/timing.sh

chain=() download=() extract=() gpx=() curl_only=() reference=()
for ((r = 0; r < runs; r++)); do
  rm -rf "$work/out" && mkdir -p "$work/out"
  t0=$(now)
  "$convert" gpx --state MA --source 2009 --output "$work/out" --server "$base" --no-cache --timing >/dev/null 2>"$work/timing"
  t1=$(now)
  chain+=("$(secs "$t0" "$t1")")
  # Stage shares from the status texts' time stamps.
  ex=$(stamp 'Extracting GNIS Zip File' "$work/timing")
  cr=$(stamp 'Creating GNIS GPX File' "$work/timing")
  total=$(secs "$t0" "$t1")
  download+=("$ex")
  extract+=("$(awk -v a="$ex" -v b="$cr" 'BEGIN { printf "%.4f", b - a }')")
  gpx+=("$(awk -v a="$cr" -v b="$total" 'BEGIN { printf "%.4f", b - a }')")

  rm -rf "$work/ref" && mkdir -p "$work/ref"
  t0=$(now)
  curl -s "$url" -o "$work/ref/f.zip"
  t1=$(now)
  (cd "$work/ref" && unzip -o -q f.zip)
  "$convert" gpx --output "$work/ref" --input "$work/ref/MA_Features_20090401.txt" >/dev/null 2>&1
  t2=$(now)
  curl_only+=("$(secs "$t0" "$t1")")
  reference+=("$(secs "$t0" "$t2")")
done

echo "Massachusetts from $base, best of $runs:"
echo "  gnis-convert gpx (whole chain):       $(min "${chain[@]}") s"
echo "    download share:                     $(min "${download[@]}") s"
echo "    extraction share:                   $(min "${extract[@]}") s"
echo "    conversion, program start and exit: $(min "${gpx[@]}") s"
echo "  curl alone:                           $(min "${curl_only[@]}") s"
echo "  curl + unzip + conversion:            $(min "${reference[@]}") s"

# The national file again and again: the cache's copy, confirmed by a 304.
rm -rf "$work/out" && mkdir -p "$work/out"
t0=$(now)
"$convert" gpx --state US --output "$work/out" --server "$base" --quiet >/dev/null 2>&1
t1=$(now)
first=$(secs "$t0" "$t1")
unchanged=() alone=()
for ((r = 0; r < runs; r++)); do
  t0=$(now)
  "$convert" gpx --state US --output "$work/out" --server "$base" --quiet >"$work/unchanged.out" 2>/dev/null
  t1=$(now)
  "$convert" gpx --state US --output "$work/out" --input "$national" --quiet >/dev/null 2>&1
  t2=$(now)
  unchanged+=("$(secs "$t0" "$t1")")
  alone+=("$(secs "$t1" "$t2")")
done
grep -q "unchanged since" "$work/unchanged.out" || { echo "the later runs were not answered 304" >&2; exit 1; }
echo "National size ($(du -m "$national" | cut -f1) MB archive, $records records) from $base with the cache:"
echo "  first run (fetched):                  $first s"
echo "  later runs (304, the cached copy):    $(min "${unchanged[@]}") s (best of $runs)"
echo "  the conversion alone (--input):       $(min "${alone[@]}") s (target: the 304 run takes no longer)"
