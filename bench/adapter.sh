#!/bin/bash
# Count, expanded size and top-folder test over 1,000 small zips, and the
# viewer rows of a 100,000-entry zip, against bsdtar -tf on the same inputs.
# Uses the inputs of bench/components.sh (run that first, same SCALE).
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
DRIVER="$BUILD/bench/adapter_driver"
WORK=${BENCH_WORK:-/tmp/salvo-bench-components}
cd "$WORK"
HOME_DIR=$(mktemp -d)
export SALVO_COMPONENT_PATH="$BUILD"
best() { # command: best of three wall times
  local best=999 t0 t1 i
  for i in 1 2 3; do t0=$(now); eval "$1" > /dev/null; t1=$(now); best=$(python3 -c "print(min($best, $t1 - $t0))"); done
  echo "$best"
}
ls "$WORK"/small/*.zip > small.list
n=$(wc -l < small.list)
SALVO_HOME=$HOME_DIR "$DRIVER" inspect "$HOME_DIR" < small.list
ours=$(best "SALVO_HOME=$HOME_DIR '$DRIVER' inspect '$HOME_DIR' < small.list")
theirs=$(best "while read f; do bsdtar -tf \"\$f\"; done < small.list")
printf '%-40s ours %6.2f s   bsdtar -tf %6.2f s   ratio %.2f\n' "count+size+top folders, $n zips" "$ours" "$theirs" \
  "$(python3 -c "print($ours / $theirs)")"
SALVO_HOME=$HOME_DIR "$DRIVER" rows "$HOME_DIR" "$WORK/many.zip"
ours=$(best "SALVO_HOME=$HOME_DIR '$DRIVER' rows '$HOME_DIR' '$WORK/many.zip'")
theirs=$(best "bsdtar -tf '$WORK/many.zip'")
printf '%-40s ours %6.2f s   bsdtar -tf %6.2f s   ratio %.2f\n' "viewer rows of many.zip" "$ours" "$theirs" \
  "$(python3 -c "print($ours / $theirs)")"
rm -rf "$HOME_DIR"
