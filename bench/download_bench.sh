#!/usr/bin/env bash
# Peak memory of a large download: a loopback server hands out SIZE_MB of
# data as a state's archive, and gnis-convert fetches it (the job then fails,
# as the data is no archive). Memory must stay small whatever the size.
# Usage: bench/download_bench.sh [BUILD_DIR] [SIZE_MB]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
size=${2:-512}
convert="$build/app/gnis-convert"
[ -x "$convert" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

work=$(mktemp -d)
archive=StagedProducts/GeographicNames/DomesticNames/DomesticNames_MA_Text.zip
mkdir -p "$work/mirror/$(dirname "$archive")" "$work/out"
truncate -s "${size}M" "$work/mirror/$archive" # zeros, without using the disk
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/mirror" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do curl -s -o /dev/null -r 0-0 "http://127.0.0.1:$port/$archive" && break; sleep 0.1; done
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" # no settings.ini of the user's in the way

. bench/timing.sh
start=$(now)
/usr/bin/time -f "%M" -o "$work/rss" "$convert" gpx --state MA --source current --output "$work/out" \
  --server "http://127.0.0.1:$port" >/dev/null 2>"$work/err" || true
end=$(now)
echo "download of $size MB: $(secs "$start" "$end") s," \
     "peak RSS $(( $(tail -n 1 "$work/rss") / 1024 )) MiB (target: a few MiB above the program's own)"
tail -n 1 "$work/err"
