# Helpers shared by the benchmark scripts (sourced, not run).
SCALE=${SCALE:-1}
# A count scaled by $SCALE, at least 1.
scaled() { python3 -c "print(max(1, int($1 * $SCALE)))"; }
# Wall-clock seconds with nanoseconds.
now() { date +%s.%N; }
# $1 / $2 with two decimals.
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
# How many times each side of a comparison runs; the median counts.
RUNS=${RUNS:-5}
# The median of the numbers given.
median() { python3 -c "import statistics, sys; print(statistics.median(map(float, sys.argv[1:])))" "$@"; }
# Whether two output trees hold the same names, kinds, sizes and contents.
same_tree() { diff -r -q --no-dereference "$1" "$2" > /dev/null 2>&1; }
# One line of a comparison: name, our seconds, the tool's name and seconds,
# whether the outputs were the same (1 or 0). A differing output prints FAIL
# instead of the ratio.
report() {
  local verdict
  if [ "$5" = 1 ]; then verdict="ratio $(ratio "$2" "$4")"; else verdict="FAIL (output differs from the reference)"; fi
  printf '%-40s ours %7.2f s   %-14s %7.2f s   %s\n' "$1" "$2" "$3" "$4" "$verdict"
}
# The machine's state, printed with every benchmark: numbers are only
# comparable at a similar load.
machine() { echo "cores: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg)"; }
# Runs a command and prints the largest resident memory its process tree
# reached, in MB: the sum over the processes of each one's peak (an upper
# bound of the peak of the whole), sampled every 10 ms.
peak_tree_mb() {
  python3 - "$@" <<'PY'
import os, subprocess, sys, time
def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []
def hwm(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
peaks = {}
while p.poll() is None:
    todo = [p.pid]
    while todo:
        pid = todo.pop()
        peaks[pid] = max(peaks.get(pid, 0), hwm(pid))
        todo += children(pid)
    time.sleep(0.01)
print(f"{sum(peaks.values()) / 1024:.1f}")
PY
}
