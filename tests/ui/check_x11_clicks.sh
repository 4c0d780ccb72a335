#!/usr/bin/env bash
# The window under a real X server (Xvfb), clicked by xdotool as a user clicks:
# clicks on the four job buttons while a download runs start nothing, neither
# during the download nor after it has ended. A replayed click would start
# another download, which the server would see.
# Usage: check_x11_clicks.sh PROGRAM   (exit 77: skipped, tools missing outside CI)
set -euo pipefail
program=$1
for tool in Xvfb xdotool python3; do
  if ! command -v "$tool" >/dev/null; then
    [ "${CI:-}" = true ] && { echo "check_x11_clicks: $tool is not installed" >&2; exit 1; }
    echo "check_x11_clicks: $tool is not installed; skipped"; exit 77
  fi
done
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "check_x11_clicks: $*" >&2; exit 1; }

. "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "$work" || fail "Xvfb did not start"
export QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"

# A server that answers with the start of an archive and breaks off three seconds
# later: the download runs, then fails. Each request is a line in the log.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -c "
import socket, threading, time
def serve(c):
    c.recv(65536)
    open('$work/requests', 'a').write('request\n')
    c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nPK')
    time.sleep(3)
    c.close()
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', $port)); s.listen(8)
while True:
    threading.Thread(target=serve, args=(s.accept()[0],), daemon=True).start()
" &
pids+=($!)

mkdir -p "$work/config/Trailcrafter/trailcrafter-gnis" "$work/out"
printf '[Software]\nfwtools=/usr/bin\npostgis=/usr/bin\ngnisserver=http://127.0.0.1:%s\n[User]\ngnis=%s\nstate=MA\npage=gnis\n' \
  "$port" "$work/out" >"$work/config/Trailcrafter/trailcrafter-gnis/settings.ini"
"$program" &
pids+=($!)

startup=$(xdotool search --sync --onlyvisible --name '^Trailcrafter - GNIS Processing$' | head -n 1)
sleep 0.5
xdotool mousemove --window "$startup" 84 76 click 1   # With Internet
main=$(xdotool search --sync --onlyvisible --name '^Trailcrafter GNIS Data Processing$' | head -n 1)
sleep 0.5
requests() { [ -f "$work/requests" ] && wc -l <"$work/requests" || echo 0; }
xdotool mousemove --window "$main" 59 181 click 1     # GNIS --> GPX, for Massachusetts as remembered
for _ in $(seq 100); do [ "$(requests)" -ge 1 ] && break; sleep 0.1; done
[ "$(requests)" -eq 1 ] || fail "the download did not start"
# During the download: GNIS --> SHP, Process SHP, All At Once and GNIS --> GPX again.
for at in "59 208" "59 235" "413 235" "59 181"; do
  xdotool mousemove --window "$main" $at click 1
  sleep 0.2
done
# The download breaks off; then time enough for a replayed click to start a download of its own.
sleep 6
[ "$(requests)" -eq 1 ] || fail "$(requests) downloads: a click made during the stage started a job"
xdotool search --onlyvisible --name '^Status$' >/dev/null && fail "the status window is still up: the stage did not end"
[ -z "$(ls -A "$work/out")" ] || fail "files were left in the output folder: $(ls -A "$work/out")"
echo "check_x11_clicks: clicks during the stage started nothing"
