# Sourced by the benchmarks: clock readings and the best of several runs.
now() { date +%s%N; }                                                        # nanoseconds
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", (b - a) / 1e9 }'; }  # seconds between two readings
min() { printf '%s\n' "$@" | sort -g | head -n 1; }
# The seconds stamp gnis-convert --timing put before a status text, from file $2.
stamp() { grep "$1" "$2" | head -n 1 | sed 's/^\[ *\([0-9.]*\) s\].*/\1/'; }
