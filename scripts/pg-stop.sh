#!/usr/bin/env bash
# Stops the private PostgreSQL cluster of scripts/pg-start.sh and removes its
# data, but only from a folder pg-start made (it holds the marker file).
set -euo pipefail
. "$(dirname "$0")/pg-common.sh"
if ! ours; then
  if [ -e "$dir" ] || [ -L "$dir" ]; then echo "pg-stop: $dir was not made by pg-start; left alone" >&2; fi
  exit 0
fi
as_owner=()
[ "$(id -u)" -eq 0 ] && as_owner=(runuser -u postgres --)
if [ -d "$dir/data" ]; then
  "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
fi
rm -rf "$dir"
