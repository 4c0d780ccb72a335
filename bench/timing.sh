# Sourced by the benchmarks: clock readings and the best of several runs.
now() { date +%s%N; }                                                        # nanoseconds
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b - a) / 1e9 }'; }  # seconds between two readings
min() { printf '%s\n' "$@" | sort -g | head -n 1; }
# The seconds stamp gnis-convert --timing put before a status text, from file $2.
stamp() { grep "$1" "$2" | head -n 1 | sed 's/^\[ *\([0-9.]*\) s\].*/\1/'; }

# Runs a command once, its output in $work/LABEL.out and .err; prints "seconds maxrss_kib".
measure() { # label, command...
  local label=$1; shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/$label.time" "$@" >"$work/$label.out" 2>"$work/$label.err" \
    || { cat "$work/$label.err" >&2; exit 1; }
  end=$(date +%s%N)
  echo "$(secs "$start" "$end") $(cat "$work/$label.time")"
}

