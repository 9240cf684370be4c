#!/bin/bash
# Extraction and listing through the components' C entry points against bsdtar
# on the same inputs, in the same run. Prints wall times and ratios (ours /
# bsdtar's) and the decoder's peak memory for the large tar.gz.
#   bench/components.sh [BUILD_DIR]      SCALE=0.1 for a quick run
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
  rm -rf src big.tar.gz files.zip small many.zip
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
os.makedirs("src/tgz", exist_ok=True)
for i in range(tgz_mb // 10):
    with open(f"src/tgz/part{i:03}.txt", "wb") as f:
        for j in range(10):
            f.write(chunk[j * 97:] + chunk[:j * 97])
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
  tar -C src/tgz -cf - . | gzip -1 > big.tar.gz
  touch "inputs-$SCALE.done"
fi

echo "inputs: big.tar.gz $(du -m big.tar.gz | cut -f1) MB, files.zip $(du -m files.zip | cut -f1) MB," \
     "$SMALL small zips, many.zip with $MANY entries"

# Best of three, the two sides taking turns, so that neither pays alone for a
# cold cache.
run_pair() { # name, our command, bsdtar command, our output folder, bsdtar's output folder
  local name=$1 ours=$2 theirs=$3 mine=${4:-} reference=${5:-} t0 t1 a=999 b=999 i
  for i in 1 2 3; do
    [ -n "$mine" ] && { rm -rf "$mine"; mkdir -p "$mine"; }
    sync; t0=$(now); eval "$ours" > /dev/null; t1=$(now)
    a=$(python3 -c "print(min($a, $t1 - $t0))")
    [ -n "$reference" ] && { rm -rf "$reference"; mkdir -p "$reference"; }
    sync; t0=$(now); eval "$theirs" > /dev/null; t1=$(now)
    b=$(python3 -c "print(min($b, $t1 - $t0))")
  done
  printf '%-34s ours %7.2f s   bsdtar %7.2f s   ratio %s\n' "$name" "$a" "$b" "$(ratio "$a" "$b")"
}

rm -rf out; mkdir -p out/a out/a2 out/b out/b2 out/c out/c2
run_pair "(a) 500 MB tar.gz" \
  "'$DRIVER' tar32.so Tar '-x --use-directory=1 \"$WORK/big.tar.gz\" \"$WORK/out/a/\"'" \
  "bsdtar -xf big.tar.gz -C out/a2" out/a out/a2
run_pair "(b) 300 MB zip, 2,000 files" \
  "'$DRIVER' unzip32.so UnZip '-x -o \"$WORK/files.zip\" \"$WORK/out/b/\"'" \
  "bsdtar -xf files.zip -C out/b2" out/b out/b2
for f in small/*.zip; do echo "-x -o \"$WORK/$f\" \"$WORK/out/c/$(basename "$f" .zip)/\""; done > small.cmds
run_pair "(c) $SMALL small zips" \
  "'$DRIVER' unzip32.so UnZip batch < small.cmds" \
  "for f in small/*.zip; do d=out/c2/\$(basename \$f .zip); mkdir -p \$d; bsdtar -xf \$f -C \$d; done" \
  out/c out/c2
run_pair "(d) list a $MANY-entry zip" \
  "'$DRIVER' unzip32.so UnZip list '$WORK/many.zip'" \
  "bsdtar -tf many.zip"

# Peak memory of the extraction of (a): the driver and its decoder process.
rm -rf out/a; mkdir -p out/a
python3 - "$DRIVER" "$WORK" <<'PY'
import resource, subprocess, sys
driver, work = sys.argv[1:]
subprocess.run([driver, "tar32.so", "Tar", f'-x --use-directory=1 "{work}/big.tar.gz" "{work}/out/a/"'],
               check=True, stdout=subprocess.DEVNULL)
print(f"(a) peak memory of the largest process: {resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024:.1f} MB")
PY
diff -r out/a out/a2 > /dev/null && echo "(a) output identical to bsdtar's"
diff -r out/b out/b2 > /dev/null && echo "(b) output identical to bsdtar's"
