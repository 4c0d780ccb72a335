# Sourced: start_xvfb WORK starts Xvfb on a display it picks itself (so never
# one another X server holds), adds its pid to the array pids and exports
# DISPLAY. WORK is a scratch folder of the caller's.
start_xvfb() {
  local work=$1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -n 1 "$work/display")
}
