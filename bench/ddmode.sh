#!/bin/bash
# DD-mode runs of the real program against a shell loop of bsdtar that makes
# the same folders: (a) 1,000 small zips, (b) 20 archives of mixed formats,
# about 1 GB expanded, in folder mode 1 and in the automatic mode 0.
#   bench/ddmode.sh [BUILD_DIR]      SCALE=0.1 for a quick run
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
WORK=${BENCH_WORK:-/tmp/salvo-bench-ddmode}
mkdir -p "$WORK"
cd "$WORK"
SMALL=$(scaled 1000); MB=$(scaled 50)

if [ ! -f "inputs-$SCALE.done" ]; then
  rm -rf small mixed src
  mkdir -p small mixed src
  python3 - "$SMALL" "$MB" <<'PY'
import os, random, sys, zipfile
small, mb = int(sys.argv[1]), int(sys.argv[2])
rnd = random.Random(3)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(3000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(rnd.choice(words) for _ in range(64)) + b"\n"
    return bytes(out[:n])
for i in range(small):
    with zipfile.ZipFile(f"small/s{i:04}.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for k in range(3):
            z.writestr(f"f{k}.txt", text(2000))
chunk = text(1 << 20)
for a in range(20):
    top = f"src/set{a:02}/top{a:02}"
    os.makedirs(top, exist_ok=True)
    for f in range(mb // 5):
        with open(f"{top}/part{f}.txt", "wb") as out:
            for j in range(5):
                out.write(chunk[(a * 7 + f + j) % 997:] + chunk[:(a * 7 + f + j) % 997])
PY
  for a in $(seq -w 0 19); do
    case $((10#$a % 4)) in
      0) (cd src/set$a && tar -cf - . | gzip -1 > "$WORK/mixed/a$a.tar.gz") ;;
      1) (cd src/set$a && bsdtar --format zip -cf "$WORK/mixed/a$a.zip" .) ;;
      2) (cd src/set$a && bsdtar --format 7zip --options 7zip:compression=deflate -cf "$WORK/mixed/a$a.7z" .) ;;
      3) (cd src/set$a && tar -cf - . | xz -1 -T2 > "$WORK/mixed/a$a.tar.xz") ;;
    esac
  done
  rm -rf src
  touch "inputs-$SCALE.done"
fi
echo "inputs: $SMALL small zips; 20 mixed archives, $(du -cm mixed/* | tail -1 | cut -f1) MB packed"

ours() { # folder of archives, folder mode
  local home out
  home=$(mktemp -d); out=$(mktemp -d -p "$WORK")
  printf '[EXTRACT_DDMODE]\nFileNameFolder=%s\n[DDMODE]\nExtractMode=2\nTargetPath=%s\n[GENERAL]\nEndNotice=1\nErrorSkip=1\n' \
    "$2" "$out" > "$home/Salvo.ini"
  local t0 t1
  t0=$(now)
  SALVO_HOME=$home XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen "$BUILD/SalvoExtractor" /DDMODE "$1"/* > /dev/null 2>&1
  t1=$(now)
  rm -rf "$home" "$WORK/ours.out"; mv "$out" "$WORK/ours.out"
  python3 -c "print($t1 - $t0)"
}
loop() { # folder of archives: one bsdtar per archive into a folder named after it
  local out t0 t1 f d
  out=$(mktemp -d -p "$WORK")
  t0=$(now)
  for f in "$1"/*; do
    d=$(basename "$f"); d=${d%.*}; mkdir -p "$out/$d"; bsdtar -xf "$f" -C "$out/$d"
  done
  t1=$(now)
  rm -rf "$WORK/loop.out"; mv "$out" "$WORK/loop.out"
  python3 -c "print($t1 - $t0)"
}
# After a run of each in folder mode 1 (both make one folder per archive):
# how many archives ours extracted, and whether its tree equals bsdtar's.
compare() {
  local total done same=yes
  total=$(ls "$1" | wc -l)
  done=$(find "$WORK/ours.out" -mindepth 1 -maxdepth 1 -type d ! -empty | wc -l)
  diff -r "$WORK/ours.out" "$WORK/loop.out" > /dev/null || same=NO
  echo "    extracted $done of $total archives; output tree equal to bsdtar's: $same"
  [ "$done" = "$total" ] && [ "$same" = yes ] || echo "warning: the run did not extract every archive as bsdtar does" >&2
}
best() { local b=999 i t; for i in 1 2; do t=$("$@"); b=$(python3 -c "print(min($b, $t))"); done; echo "$b"; }

report() { printf '%-40s ours %7.2f s   bsdtar loop %7.2f s   ratio %.2f\n' "$1" "$2" "$3" "$(python3 -c "print($2 / $3)")"; }
l=$(best loop small); o=$(best ours small 1); report "(a) $SMALL small zips, mode 1" "$o" "$l"; compare small
l=$(best loop mixed); o=$(best ours mixed 1); report "(b) 20 mixed archives, mode 1" "$o" "$l"; compare mixed
o=$(best ours mixed 0); report "(b) 20 mixed archives, automatic mode 0" "$o" "$l"
rm -rf "$WORK/ours.out" "$WORK/loop.out"
