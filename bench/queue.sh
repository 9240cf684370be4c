#!/bin/bash
# Queueing 100,000 files by dropping their folder and by loading a list file,
# then sorting them, against `find DIR -type f` and `sort` on the same folder;
# then filtering them out by two name terms and releasing the filter, against
# `grep -v -F` with the same terms on the list file; then removing every other
# entry (50,000 scattered ones) selected in the window's list, against `awk`
# dropping every other line of the list (goal: < 0.2 s).
#   bench/queue.sh [BUILD_DIR]     COUNT=100000 by default
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
COUNT=${COUNT:-100000}
WORK=${BENCH_WORK:-/tmp/salvo-bench-queue}
mkdir -p "$WORK"
cd "$WORK"
if [ ! -f "tree-$COUNT.done" ]; then
  rm -rf tree
  python3 - "$COUNT" <<'PY'
import os, random, sys
n = int(sys.argv[1]); rnd = random.Random(2)
for i in range(n):
    d = f"tree/d{i % 100:02}/s{(i // 100) % 10}"
    os.makedirs(d, exist_ok=True)
    open(f"{d}/f{rnd.randrange(10**9):09}-{i}.zip", "w").close()
PY
  touch "tree-$COUNT.done"
fi
find "$WORK/tree" -type f > list.txt   # warm the cache; also the list file to load
t0=$(now); find "$WORK/tree" -type f > found.txt; t1=$(now); sort found.txt > /dev/null; t2=$(now)
t3=$(now); grep -v -F -e d1 -e s3 found.txt > grepped.txt; t4=$(now)
findTime=$(python3 -c "print($t1 - $t0)"); sortTime=$(python3 -c "print($t2 - $t1)")
grepTime=$(python3 -c "print($t4 - $t3)")
t0=$(now); awk 'NR % 2 == 0' found.txt > /dev/null; t1=$(now); awkTime=$(python3 -c "print($t1 - $t0)")
mkdir -p filter-home && rm -f filter-home/original.lst filter-home/*.hst
read -r added loaded drop load sorting kept apply release removed removal < <(QT_QPA_PLATFORM=offscreen "$BUILD/bench/queue_driver" "$WORK/tree" list.txt "$WORK/filter-home/")
printf 'files: %s dropped, %s loaded from a list\n' "$added" "$loaded"
printf 'drop a folder   %6.3f s   find %6.3f s   ratio %.2f\n' "$drop" "$findTime" "$(python3 -c "print($drop / $findTime)")"
printf 'load a list     %6.3f s   find %6.3f s   ratio %.2f\n' "$load" "$findTime" "$(python3 -c "print($load / $findTime)")"
printf 'sort            %6.3f s   sort %6.3f s   ratio %.2f\n' "$sorting" "$sortTime" "$(python3 -c "print($sorting / $sortTime)")"
printf 'filter apply    %6.3f s   grep %6.3f s   ratio %.2f   (%s of %s kept)\n' "$apply" "$grepTime" "$(python3 -c "print($apply / $grepTime)")" "$kept" "$added"
printf 'filter release  %6.3f s\n' "$release"
printf 'remove %s sel.  %6.3f s   awk  %6.3f s   ratio %.2f\n' "$removed" "$removal" "$awkTime" "$(python3 -c "print($removal / $awkTime)")"
