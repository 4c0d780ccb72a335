# Shared by pg-start.sh and pg-stop.sh (sourced): where the private cluster
# lives, how a folder made by pg-start is known, and the server's programs.
dir=${GNIS_PG_DIR:-/tmp/trailcrafter-gnis-pg}
marker=.made-by-trailcrafter-pg-start

# Ours: a real folder (never a link, which could lead anywhere) holding the
# marker, or the connection file of an earlier version of pg-start.
ours() {
  [ ! -L "$dir" ] && { [ -f "$dir/$marker" ] || grep -qx "GNIS_PG_SOCKET_DIR=$dir" "$dir/connection.env" 2>/dev/null; }
}

# The newest installed server's programs, or nothing.
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
