#!/usr/bin/env bash
# "GNIS --> GPX" for Massachusetts from a loopback HTTP server, stage by stage,
# against curl + unzip + the conversion of the unpacked text, in the same run.
# Usage: bench/chain_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
convert="$(pwd)/$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory data/mirror >/dev/null 2>&1 &
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
  "$convert" gpx --state MA --source 2009 --output "$work/out" --server "$base" --timing >/dev/null 2>"$work/timing"
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
