#!/usr/bin/env bash
# Starts trailcrafter-gnis under Xvfb and saves screenshots of the startup
# window, both pages of the main window and the status window into
# docs/screenshots/ (the README's pictures). Needs a build (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for p in xvfb xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

program="$(pwd)/build/app/trailcrafter-gnis"
[ -x "$program" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
shots=docs/screenshots
mkdir -p "$shots"
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

. scripts/xvfb.sh
start_xvfb "$work"
export QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"

# A server that accepts and never answers, so the status window stays up for the picture.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -c "
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', $port)); s.listen(5); held = []
while True:
    c, _ = s.accept(); held.append(c)
" &
pids+=($!)

mkdir -p "$work/config/Trailcrafter/trailcrafter-gnis" "$work/out"
cat > "$work/config/Trailcrafter/trailcrafter-gnis/settings.ini" <<INI
[Software]
fwtools=/usr/bin
postgis=/usr/lib/postgresql/15/bin
gnisserver=http://127.0.0.1:$port
[PostGIS]
host=localhost
database=gis
user=mapper
pass=
[User]
gnis=$work/out
INI

"$program" &
pids+=($!)
first=$!
shoot() { # window name, file
  local id
  id=$(xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
  sleep 0.5
  import -window "$id" "$shots/$2"
  echo "$shots/$2"
}
shoot "Trailcrafter - GNIS Processing" startup.png
xdotool mousemove --window "$(xdotool search --name '^Trailcrafter - GNIS Processing$' | head -n 1)" 84 76 click 1  # With Internet
main=$(xdotool search --sync --onlyvisible --name "^Trailcrafter GNIS Data Processing\$" | head -n 1)
xdotool mousemove --window "$main" 140 97 click 1   # the state list
sleep 0.5
xdotool key Escape                                     # close its pop-up, keep the focus
sleep 0.2
xdotool type --delay 80 "Mass"                         # Massachusetts; a state enables the buttons
sleep 0.3
shoot "Trailcrafter GNIS Data Processing" main-gnis.png
xdotool mousemove --window "$main" 340 12 click 1  # the Settings tab
shoot "Trailcrafter GNIS Data Processing" main-settings.png
xdotool mousemove --window "$main" 110 12 click 1  # back to GNIS
sleep 0.3
xdotool mousemove --window "$main" 59 181 click 1  # GNIS --> GPX: the download waits on the silent server
shoot "Status" status.png

# The same window on a 144-dpi screen: the layouts grow so that no text is cut.
kill "$first" 2>/dev/null || true
sleep 0.5
QT_FONT_DPI=144 "$program" &
pids+=($!)
startup=$(xdotool search --sync --onlyvisible --name '^Trailcrafter - GNIS Processing$' | head -n 1)
sleep 0.5
xdotool mousemove --window "$startup" 126 114 click 1  # With Internet, at 1.5 times the pixels
shoot "Trailcrafter GNIS Data Processing" main-gnis-144dpi.png

# The result window of a run from the bundled mirror, with a box drawn on its map
# with Shift held (the area of the next run) and Lake chosen in the left-out list.
kill "$(jobs -p | tail -n 1)" 2>/dev/null || true
pkill -f "$program" 2>/dev/null || true
sleep 0.5
sed -i "s|^gnisserver=.*|gnisserver=$(pwd)/data/mirror|" "$work/config/Trailcrafter/trailcrafter-gnis/settings.ini"
printf 'state=MA\n' >> "$work/config/Trailcrafter/trailcrafter-gnis/settings.ini"
"$program" &
pids+=($!)
startup=$(xdotool search --sync --onlyvisible --name '^Trailcrafter - GNIS Processing$' | head -n 1)
sleep 0.5
xdotool mousemove --window "$startup" 84 76 click 1  # With Internet
main=$(xdotool search --sync --onlyvisible --name "^Trailcrafter GNIS Data Processing\$" | head -n 1)
sleep 0.5
xdotool mousemove --window "$main" 59 181 click 1    # GNIS --> GPX
sleep 3
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $((WIDTH - 71)) $((HEIGHT - 10)) click 1  # Show result
result=$(xdotool search --sync --onlyvisible --name '^GNIS result: ' | head -n 1)
sleep 1
xdotool keydown shift mousemove --window "$result" 520 220 mousedown 1 mousemove --window "$result" 600 300 \
  mousemove --window "$result" 700 360 mouseup 1 keyup shift
sleep 0.3
xdotool key alt+l Down                               # Lake, the second class left out (the focus takes the first)
shoot "GNIS result: .*" result.png
