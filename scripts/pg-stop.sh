#!/usr/bin/env bash
# Stops the private PostgreSQL cluster of scripts/pg-start.sh and removes its data.
set -euo pipefail
dir=${GNIS_PG_DIR:-/tmp/trailcrafter-gnis-pg}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
as_owner=()
[ "$(id -u)" -eq 0 ] && as_owner=(runuser -u postgres --)
if [ -d "$dir/data" ]; then
  "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
fi
rm -rf "$dir"
