#!/bin/bash
# Where sharing an extraction among decoders starts to pay: zips of 1 to 32 MB
# (60 entries each) extracted with one decoder and with the default count,
# against bsdtar in the same run. Prints median times and ratios.
#   bench/sharing.sh [BUILD_DIR]      RUNS=5
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
DRIVER="$BUILD/tests/component_driver"
WORK=${BENCH_WORK:-/tmp/salvo-bench-sharing}
mkdir -p "$WORK"
cd "$WORK"
SIZES="1 2 4 8 16 32"
if [ ! -f inputs.done ]; then
  python3 - $SIZES <<'PY'
import random, sys, zipfile
rnd = random.Random(4)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(4000)]
text = bytearray()
while len(text) < 8 << 20:
    text += b" ".join(rnd.choice(words) for _ in range(64)) + b"\n"
for mb in map(int, sys.argv[1:]):
    per = mb * 3 * (1 << 20) // 60  # text packs to about a third
    with zipfile.ZipFile(f"z{mb:02}.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(60):
            start = (i * 7919) % (len(text) - per) if per < len(text) else 0
            z.writestr(f"d{i % 6}/f{i:02}.txt", bytes(text[start:start + per]))
PY
  touch inputs.done
fi
machine
run() { # output folder, command...
  rm -rf "$1"; mkdir -p "$1"; local out=$1 t0 t1; shift
  sync; t0=$(now); "$@" > /dev/null; t1=$(now)
  python3 -c "print($t1 - $t0)"
}
for mb in $SIZES; do
  f="$WORK/z$(printf %02d "$mb").zip"
  one=(); shared=(); ref=()
  for i in $(seq "$RUNS"); do
    one+=("$(DECODER_COUNT=1 run o1 "$DRIVER" unzip32.so UnZip "-x -o \"$f\" \"$WORK/o1/\"")")
    shared+=("$(run o2 "$DRIVER" unzip32.so UnZip "-x -o \"$f\" \"$WORK/o2/\"")")
    ref+=("$(run o3 bsdtar -xf "$f" -C o3)")
  done
  same=1; same_tree o1 o3 && same_tree o2 o3 || same=0
  a=$(median "${one[@]}"); b=$(median "${shared[@]}"); c=$(median "${ref[@]}")
  report "$(du -m "$f" | cut -f1) MB zip, one decoder" "$a" "bsdtar -xf" "$c" "$same"
  report "$(du -m "$f" | cut -f1) MB zip, shared" "$b" "bsdtar -xf" "$c" "$same"
done
rm -rf o1 o2 o3
