#!/bin/bash
# Extraction and listing through the components' C entry points against bsdtar
# (and 7zz for the 7z, tar with a multi-threaded xz for the tar.xz) on the same
# inputs, in the same run. Prints median wall times and ratios (ours /
# theirs), FAIL instead of a ratio when our output tree differs from bsdtar's,
# the archives extracted, and the peak memory of the driver and its decoders
# for the large tar.gz, the large tar.xz (two threads) and the long listing.
#   bench/components.sh [BUILD_DIR]      SCALE=0.1 for a quick run, RUNS=5
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
DRIVER="$BUILD/tests/component_driver"
WORK=${BENCH_WORK:-/tmp/salvo-bench-components}
mkdir -p "$WORK"
cd "$WORK"


# Inputs, made once and kept between runs.
TGZ_MB=$(scaled 500); ZIP_MB=$(scaled 300); SMALL=$(scaled 1000); MANY=$(scaled 100000)
if [ ! -f "inputs-$SCALE.done" ]; then
  rm -rf src big.tar.gz big.tar.xz "tars-$SCALE.done" files.zip small many.zip
  python3 - "$TGZ_MB" "$ZIP_MB" "$SMALL" "$MANY" <<'PY'
import os, random, sys, zipfile
tgz_mb, zip_mb, small, many = map(int, sys.argv[1:])
rnd = random.Random(1)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(4000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(rnd.choice(words) for _ in range(64)) + b"\n"
    return bytes(out[:n])
chunk = text(1 << 20)
os.makedirs("src/zip", exist_ok=True)
per = zip_mb * (1 << 20) // 2000
with zipfile.ZipFile("files.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(2000):
        z.writestr(f"dir{i % 20}/file{i:04}.txt", (chunk * (per // len(chunk) + 1))[i:i + per])
os.makedirs("small", exist_ok=True)
for i in range(small):
    with zipfile.ZipFile(f"small/s{i:04}.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for k in range(3):
            z.writestr(f"s{i}/f{k}.txt", text(2000))
with zipfile.ZipFile("many.zip", "w", zipfile.ZIP_STORED) as z:
    for i in range(many):
        z.writestr(f"d{i // 1000}/e{i:06}.txt", b"x")
PY
  touch "inputs-$SCALE.done"
fi
if [ ! -f "tars-$SCALE.done" ]; then
  # A tree of text files that repeats only every 64 MiB (beyond what xz -6
  # and gzip can look back), as a tar.gz (gzip -6, its default) and as a
  # tar.xz of several blocks, as `xz -T2` writes it (24 MiB blocks at -6).
  rm -rf src/tgz
  python3 - "$TGZ_MB" <<'PY'
import os, random, sys
mb = int(sys.argv[1])
rnd = random.Random(5)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(8000)]
lines, size = [], 0
while size < min(mb, 64) << 20:
    line = b" ".join(rnd.choices(words, k=64)) + b"\n"
    lines.append(line)
    size += len(line)
text = b"".join(lines)
os.makedirs("src/tgz", exist_ok=True)
at = 0
for i in range(max(1, mb // 10)):
    with open(f"src/tgz/part{i:03}.txt", "wb") as f:
        left = 10 << 20
        while left > 0:
            piece = text[at:at + left]
            f.write(piece)
            left -= len(piece)
            at = (at + len(piece)) % len(text)
PY
  tar -C src/tgz -cf - . | gzip -6 > big.tar.gz
  tar -C src/tgz -cf - . | xz -6 -T2 > big.tar.xz
  touch "tars-$SCALE.done"
fi

if [ ! -f "files7z-$SCALE.done" ]; then
  # The same files as files.zip, as a 7z without solid blocks (each file its
  # own block, LZMA2 as 7zz makes it by default).
  rm -rf src/zip files.7z; mkdir -p src/zip
  bsdtar -xf files.zip -C src/zip
  (cd src/zip && 7zz a -bd -bso0 -ms=off ../../files.7z .)
  rm -rf src/zip
  touch "files7z-$SCALE.done"
fi

echo "inputs: $TGZ_MB MB of text as big.tar.gz $(du -m big.tar.gz | cut -f1) MB (gzip -6) and big.tar.xz" \
     "$(du -m big.tar.xz | cut -f1) MB (xz -6 -T2, $(xz --robot -l big.tar.xz | awk '/^totals/ {print $3}') blocks)," \
     "files.zip $(du -m files.zip | cut -f1) MB," \
     "files.7z $(du -m files.7z | cut -f1) MB (2,000 blocks), $SMALL small zips, many.zip with $MANY entries"
machine

# The median of $RUNS runs, the sides taking turns so that neither pays alone
# for a cold cache; every output folder is emptied (and the disk synced)
# before the clock starts. Each side's output is compared with the reference
# folder (the first other side's, bsdtar's).
timed() { # command, output folder or ""
  local t0 t1
  [ -n "$2" ] && { rm -rf "$2"; mkdir -p "$2"; }
  sync; t0=$(now); eval "$1" > /dev/null; t1=$(now)
  python3 -c "print($t1 - $t0)"
}
compare() { # name, our command, our folder, then pairs of: tool name, command, folder
  local name=$1 ours=$2 mine=$3 i k
  shift 3
  local -a tools=() commands=() folders=() mineTimes=() times=()
  while [ $# -gt 0 ]; do tools+=("$1"); commands+=("$2"); folders+=("$3"); shift 3; done
  for i in $(seq "$RUNS"); do
    mineTimes+=("$(timed "$ours" "$mine")")
    for k in "${!tools[@]}"; do times[$k]="${times[$k]:-} $(timed "${commands[$k]}" "${folders[$k]}")"; done
  done
  local same=1
  [ -n "$mine" ] && { same_tree "$mine" "${folders[0]}" || same=0; }
  local a; a=$(median "${mineTimes[@]}")
  # shellcheck disable=SC2086
  REFERENCE=$(median ${times[0]})  # the first tool's median, for lines printed after
  for k in "${!tools[@]}"; do
    # shellcheck disable=SC2086
    report "$name" "$a" "${tools[$k]}" "$(median ${times[$k]})" "$same"
  done
}

rm -rf out; mkdir -p out
compare "(a) $TGZ_MB MB tar.gz" \
  "'$DRIVER' tar32.so Tar '-x --use-directory=1 \"$WORK/big.tar.gz\" \"$WORK/out/a/\"'" out/a \
  "bsdtar -xf" "bsdtar -xf big.tar.gz -C out/a2" out/a2
echo "    archives extracted: $([ -n "$(ls -A out/a)" ] && echo 1 || echo 0)"
# The tar.xz with two threads (DecoderCount=2), against bsdtar and against tar
# with xz's own threads (-T0: one per core) as its filter.
compare "(f) $TGZ_MB MB tar.xz, 2 threads" \
  "DECODER_COUNT=2 '$DRIVER' tar32.so Tar '-x --use-directory=1 \"$WORK/big.tar.xz\" \"$WORK/out/f/\"'" out/f \
  "bsdtar -xf" "bsdtar -xf big.tar.xz -C out/f2" out/f2 \
  "tar -I 'xz -T0'" "tar -I 'xz -T0' -xf big.tar.xz -C out/f3" out/f3
echo "    archives extracted: $([ -n "$(ls -A out/f)" ] && echo 1 || echo 0)"
compare "(b) $ZIP_MB MB zip, 2,000 files" \
  "'$DRIVER' unzip32.so UnZip '-x -o \"$WORK/files.zip\" \"$WORK/out/b/\"'" out/b \
  "bsdtar -xf" "bsdtar -xf files.zip -C out/b2" out/b2
echo "    archives extracted: $([ -n "$(ls -A out/b)" ] && echo 1 || echo 0)"
compare "(e) the same files as a 7z, no solid" \
  "'$DRIVER' 7-zip32.so SevenZip 'x -y \"$WORK/files.7z\" \"$WORK/out/e/\"'" out/e \
  "bsdtar -xf" "bsdtar -xf files.7z -C out/e2" out/e2 \
  "7zz x -mmt1" "7zz x -bd -bso0 -y -mmt1 files.7z -oout/e3" out/e3 \
  "7zz x" "7zz x -bd -bso0 -y files.7z -oout/e4" out/e4
echo "    archives extracted: $([ -n "$(ls -A out/e)" ] && echo 1 || echo 0)"
for f in small/*.zip; do echo "-x -o \"$WORK/$f\" \"$WORK/out/c/$(basename "$f" .zip)/\""; done > small.cmds
compare "(c) $SMALL small zips" \
  "'$DRIVER' unzip32.so UnZip batch < small.cmds" out/c \
  "bsdtar loop" "for f in small/*.zip; do d=out/c2/\$(basename \$f .zip); mkdir -p \$d; bsdtar -xf \$f -C \$d; done" out/c2
echo "    archives extracted: $(find out/c -mindepth 1 -maxdepth 1 -type d | wc -l)"
# What the disk alone costs: the same folders and files copied by one cp
# process, with nothing to decode. No extractor can go below it, so a ratio
# near this one is the disk's, not the extractor's.
floor=()
for i in $(seq "$RUNS"); do floor+=("$(timed "cp -r out/c2/. out/c3/" out/c3)"); done
a=$(median "${floor[@]}")
echo "    the disk alone (bsdtar's tree copied by one cp): $(printf %.2f "$a") s, ratio $(ratio "$a" "$REFERENCE")"
compare "(d) list a $MANY-entry zip" \
  "'$DRIVER' unzip32.so UnZip list '$WORK/many.zip'" "" \
  "bsdtar -tf" "bsdtar -tf many.zip" ""

# Peak memory of the extraction of (a) and the listing of (d): the driver
# (standing for the program) and its decoder processes together.
rm -rf out/a; mkdir -p out/a
echo "(a) peak memory, driver and decoders: $(peak_tree_mb "$DRIVER" tar32.so Tar \
  "-x --use-directory=1 \"$WORK/big.tar.gz\" \"$WORK/out/a/\"") MB"
rm -rf out/f; mkdir -p out/f
echo "(f) peak memory, driver and decoders, 2 threads: $(DECODER_COUNT=2 peak_tree_mb "$DRIVER" tar32.so Tar \
  "-x --use-directory=1 \"$WORK/big.tar.xz\" \"$WORK/out/f/\"") MB"
echo "(d) peak memory, driver and decoders: $(peak_tree_mb "$DRIVER" unzip32.so UnZip list "$WORK/many.zip") MB"
rm -rf out
