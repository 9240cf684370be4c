# Helpers shared by the benchmark scripts (sourced, not run).
SCALE=${SCALE:-1}
# A count scaled by $SCALE, at least 1.
scaled() { python3 -c "print(max(1, int($1 * $SCALE)))"; }
# Wall-clock seconds with nanoseconds.
now() { date +%s.%N; }
# $1 / $2 with two decimals.
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
