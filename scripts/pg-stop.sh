#!/usr/bin/env bash
# Stops the private PostgreSQL cluster of scripts/pg-start.sh and removes its
# data, but only from a folder pg-start made (it holds the marker file).
set -euo pipefail
dir=${GNIS_PG_DIR:-/tmp/trailcrafter-gnis-pg}
if [ ! -f "$dir/.made-by-trailcrafter-pg-start" ] && ! grep -qx "GNIS_PG_SOCKET_DIR=$dir" "$dir/connection.env" 2>/dev/null; then
  [ -e "$dir" ] && echo "pg-stop: $dir was not made by pg-start; left alone" >&2
  exit 0
fi
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
as_owner=()
[ "$(id -u)" -eq 0 ] && as_owner=(runuser -u postgres --)
if [ -d "$dir/data" ]; then
  "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
fi
rm -rf "$dir"
