#!/bin/bash
# DD-mode runs of the real program against a shell loop of bsdtar that makes
# the same folders: (a) 1,000 small zips, (b) 50 archives of mixed formats (42
# tar.gz, zip, 7z, lzh, tar.xz and tar.zst made here, about 840 MB expanded,
# and the 8 RAR archives other archivers made that the tests keep in
# tests/data), in folder mode 1 (also against a loop of 7zz) and in the
# automatic mode 0; then (c) the program's own time per archive beyond the
# components' work: DD mode over the small zips against the same extractions
# made by the component driver in one process.
# Prints medians, FAIL instead of a ratio when an output tree differs from
# bsdtar's, and the number of archives extracted.
#   bench/ddmode.sh [BUILD_DIR]      SCALE=0.1 for a quick run, RUNS=5
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
# RAR archives other archivers made, kept in the repository (no tool here writes RAR).
DATA=$(cd "$(dirname "$0")/../tests/data" && pwd)
WORK=${BENCH_WORK:-/tmp/salvo-bench-ddmode}
mkdir -p "$WORK"
cd "$WORK"
SMALL=$(scaled 1000); MB=$(scaled 20)
RARS="rar.rar rar5_compressed.rar rar5_multiple_files.rar rar5_solid.rar rar5_stored.rar rar_compress_best.rar
rar_compress_normal.rar rar_windows.rar"

if [ ! -f "mixed50-$SCALE.done" ]; then
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
for a in range(42):
    top = f"src/set{a:02}/top{a:02}"
    os.makedirs(top, exist_ok=True)
    for f in range(max(1, mb // 5)):
        with open(f"{top}/part{f}.txt", "wb") as out:
            for j in range(5):
                out.write(chunk[(a * 7 + f + j) % 997:] + chunk[:(a * 7 + f + j) % 997])
PY
  for a in $(seq -w 0 41); do
    case $((10#$a % 6)) in
      0) (cd src/set$a && tar -cf - . | gzip > "$WORK/mixed/a$a.tar.gz") ;;
      1) (cd src/set$a && bsdtar --format zip -cf "$WORK/mixed/a$a.zip" .) ;;
      2) (cd src/set$a && 7zz a -bd -bso0 -ms=off "$WORK/mixed/a$a.7z" .) ;;
      3) (cd src/set$a && jlha aq "$WORK/mixed/a$a.lzh" "top$a" > /dev/null) ;;
      4) (cd src/set$a && tar -cf - . | xz -1 -T2 > "$WORK/mixed/a$a.tar.xz") ;;
      5) (cd src/set$a && tar -cf - . | zstd -q -T0 > "$WORK/mixed/a$a.tar.zst") ;;
    esac
  done
  for f in $RARS; do cp "$DATA/$f" mixed/; done
  rm -rf src
  touch "mixed50-$SCALE.done"
fi
echo "inputs: $SMALL small zips; $(ls mixed | wc -l) mixed archives, $(du -cm mixed/* | tail -1 | cut -f1) MB packed"
machine

ours() { # output folder, folder mode, archives...
  local home out=$1 mode=$2 t0 t1
  shift 2
  home=$(mktemp -d)
  rm -rf "$out"; mkdir -p "$out"
  printf '[EXTRACT_DDMODE]\nFileNameFolder=%s\n[DDMODE]\nExtractMode=2\nTargetPath=%s\n[GENERAL]\nEndNotice=1\nErrorSkip=1\n' \
    "$mode" "$out" > "$home/Salvo.ini"
  sync; t0=$(now)
  SALVO_HOME=$home XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen "$BUILD/SalvoExtractor" /DDMODE "$@" > /dev/null 2>&1
  t1=$(now)
  rm -rf "$home"
  python3 -c "print($t1 - $t0)"
}
loop() { # output folder, archives...: one bsdtar per archive into a folder named after it
  local out=$1 t0 t1 f d
  shift
  rm -rf "$out"; mkdir -p "$out"
  sync; t0=$(now)
  for f in "$@"; do
    d=$(basename "$f"); d=${d%.*}; mkdir -p "$out/$d"; bsdtar -xf "$f" -C "$out/$d"
  done
  t1=$(now)
  python3 -c "print($t1 - $t0)"
}
loop7() { # output folder, archives...: one 7zz per archive (two for a compressed tar: the stream, then the tar)
  local out=$1 t0 t1 f d
  shift
  rm -rf "$out"; mkdir -p "$out"
  sync; t0=$(now)
  for f in "$@"; do
    d=$(basename "$f"); d=${d%.*}; mkdir -p "$out/$d"
    case $f in
      *.tar.*) 7zz x -so "$f" 2> /dev/null | 7zz x -si -ttar -bd -bso0 -y -o"$out/$d" > /dev/null 2>&1 || true ;;
      *) 7zz x -bd -bso0 -y -o"$out/$d" "$f" > /dev/null 2>&1 || true ;;
    esac
  done
  t1=$(now)
  python3 -c "print($t1 - $t0)"
}
batch() { # output folder, archives...: the same extractions through the component alone, in one process
  local out=$1 t0 t1 f
  shift
  rm -rf "$out"; mkdir -p "$out"
  for f in "$@"; do echo "-x -o \"$f\" \"$out/$(basename "$f" .zip)/\""; done > batch.cmds
  sync; t0=$(now)
  "$BUILD/tests/component_driver" unzip32.so UnZip batch < batch.cmds > /dev/null
  t1=$(now)
  python3 -c "print($t1 - $t0)"
}
# How many archives of the reference folder our folder holds alike.
extracted() { # ours, reference
  local n=0 d
  for d in "$2"/*/; do d=$(basename "$d"); same_tree "$1/$d" "$2/$d" && n=$((n + 1)); done
  echo "$n"
}
compare() { # name, folder mode, whether 7zz is timed too (0 or 1), archives...
  local name=$1 mode=$2 seven=$3 i a=() b=() c=()
  shift 3
  for i in $(seq "$RUNS"); do
    b+=("$(loop "$WORK/o-ref" "$@")")
    a+=("$(ours "$WORK/o-ours" "$mode" "$@")")
    [ "$seven" = 1 ] && c+=("$(loop7 "$WORK/o-7zz" "$@")")
  done
  local same=1
  same_tree "$WORK/o-ours" "$WORK/o-ref" || same=0
  report "$name" "$(median "${a[@]}")" "bsdtar loop" "$(median "${b[@]}")" "$same"
  if [ "$seven" = 1 ]; then
    report "$name" "$(median "${a[@]}")" "7zz x loop" "$(median "${c[@]}")" "$same"
    # Debian's 7zz is built without RAR: what it could not extract costs it nothing.
    echo "    the 7zz loop extracted $(extracted "$WORK/o-7zz" "$WORK/o-ref") of $# as bsdtar did"
  fi
  echo "    archives extracted: $(extracted "$WORK/o-ours" "$WORK/o-ref") of $#"
  rm -rf "$WORK/o-7zz"
}

# tar.xz is timed only once the program extracts it (writes files, not
# only the empty folder named after the archive).
mixed=(mixed/*)
ours "$WORK/o-probe" 1 "$WORK"/mixed/*.tar.xz > /dev/null
if [ -z "$(find "$WORK/o-probe" -type f | head -1)" ]; then
  echo "    tar.xz is not extracted by this build: the mixed set is timed without it"
  mixed=(); for f in mixed/*; do [[ $f == *.tar.xz ]] || mixed+=("$f"); done
fi
rm -rf "$WORK/o-probe"
mixed=("${mixed[@]/#/$WORK/}")

compare "(a) $SMALL small zips, mode 1" 1 0 "$WORK"/small/*.zip
compare "(b) ${#mixed[@]} mixed archives, mode 1" 1 1 "${mixed[@]}"
# In mode 0 an archive whose entries lie under one folder goes straight into
# the target, as bsdtar's loop does not: only the time is compared.
a=(); for i in $(seq "$RUNS"); do a+=("$(ours "$WORK/o-ours" 0 "${mixed[@]}")"); done
b=(); for i in $(seq "$RUNS"); do b+=("$(loop "$WORK/o-ref" "${mixed[@]}")"); done
report "(b) the same, automatic mode 0" "$(median "${a[@]}")" "bsdtar loop" "$(median "${b[@]}")" 1

# (c) The program's own time per archive: DD mode minus the component's work,
# each without its fixed start-up (a run over one archive). The output goes to
# a memory file system when there is one (FAST_OUT), so that the disk's own
# ups and downs (a millisecond per new file here) do not drown a fraction of
# a millisecond.
FAST=${FAST_OUT:-/dev/shm/salvo-bench-ddmode}
mkdir -p "$FAST" 2> /dev/null || FAST=$WORK
echo "(c) output under $FAST ($(stat -f -c %T "$FAST"))"
one=("$WORK/small/s0000.zip")
dd=(); dd1=(); cw=(); cw1=()
for i in $(seq "$RUNS"); do
  dd+=("$(ours "$FAST/o-ours" 1 "$WORK"/small/*.zip)"); dd1+=("$(ours "$FAST/o-ours" 1 "${one[@]}")")
  cw+=("$(batch "$FAST/o-ref" "$WORK"/small/*.zip)"); cw1+=("$(batch "$FAST/o-ref" "${one[@]}")")
done
python3 - "$SMALL" "$(median "${dd[@]}")" "$(median "${dd1[@]}")" "$(median "${cw[@]}")" "$(median "${cw1[@]}")" <<'PY'
import sys
n, dd, dd1, cw, cw1 = int(sys.argv[1]), *map(float, sys.argv[2:])
per = ((dd - dd1) - (cw - cw1)) / max(1, n - 1) * 1000
print(f"(c) DD mode {dd:.2f} s (one archive {dd1:.2f} s), component alone {cw:.2f} s (one {cw1:.2f} s):"
      f" the program's own time {per:.3f} ms per archive")
PY
rm -rf "$WORK/o-ours" "$WORK/o-ref" "$FAST/o-ours" "$FAST/o-ref"
[ "$FAST" = "$WORK" ] || rmdir "$FAST" 2> /dev/null || true
