#!/usr/bin/env bash
# Starts a private PostgreSQL cluster with PostGIS for the tests and the sample
# job: its own data folder, a port on loopback, password authentication, and a
# database with the postgis extension owned by a login role. When run as root
# the server runs as the system user postgres. Safe to run again: a running
# cluster is reused. Prints the connection as shell assignments and writes them
# to $GNIS_PG_DIR/connection.env, readable by its owner only. The password is
# made anew for each cluster. Only a folder this script made (it holds the
# marker file) is ever removed; any other non-empty folder is refused.
set -euo pipefail

. "$(dirname "$0")/pg-common.sh"
port=${GNIS_PG_PORT:-54329}
database=gnis_test
role=gnis_tester

if [ -L "$dir" ] || { [ -e "$dir" ] && ! ours && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; }; then
  echo "pg-start: $dir is a link, or not empty and was not made by pg-start; set GNIS_PG_DIR to another folder" >&2
  exit 1
fi
[ -x "$bin/initdb" ] || { echo "pg-start: PostgreSQL server binaries not found; run scripts/install-deps.sh" >&2; exit 1; }

as_owner=()
owner=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  owner=postgres
  as_owner=(runuser -u postgres --)
fi
data="$dir/data"
psql_admin() { "${as_owner[@]}" "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U "$owner" "$@"; }

password=
if "${as_owner[@]}" "$bin/pg_ctl" -D "$data" status >/dev/null 2>&1 && [ -f "$dir/connection.env" ]; then
  password=$(sed -n 's/^GNIS_PG_PASSWORD=//p' "$dir/connection.env")
fi
if [ -z "$password" ]; then
  if [ -d "$data" ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$data" -m fast -w stop >/dev/null 2>&1 || true
  fi
  if ours; then rm -rf "$dir"; fi
  mkdir -p "$dir"
  touch "$dir/$marker"
  chown "$owner" "$dir"
  chmod 700 "$dir"
  password=$(head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 24)
  "${as_owner[@]}" "$bin/initdb" -D "$data" -U "$owner" --auth-local=peer --auth-host=scram-sha-256 \
    -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  "${as_owner[@]}" "$bin/pg_ctl" -D "$data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -c unix_socket_directories=$dir -c fsync=off" start >/dev/null \
    || { cat "$dir/server.log" >&2; exit 1; }
  psql_admin -d postgres -c "CREATE ROLE $role LOGIN PASSWORD '$password'" \
                         -c "CREATE DATABASE $database OWNER $role"
  psql_admin -d "$database" -c "CREATE EXTENSION postgis"
fi

cat > "$dir/connection.env" <<ENV
GNIS_PG_HOST=127.0.0.1
GNIS_PG_PORT=$port
GNIS_PG_DATABASE=$database
GNIS_PG_USER=$role
GNIS_PG_PASSWORD=$password
GNIS_PG_SOCKET_DIR=$dir
ENV
chmod 600 "$dir/connection.env"
cat "$dir/connection.env"
