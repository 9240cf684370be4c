#!/bin/bash
# Deleting from and adding to archives through the components' main entries
# against the reference tools on copies of the same inputs, in the same run:
# (a) delete one entry from a 300 MB zip vs `zip -d`, (b) add 10 files to it
# vs `zip -u`, (c) -lh5- of 100 MB of text vs `jlha a` (time and size),
# (d) delete from a 7z vs `7zz d`, without solid blocks and with them,
# (f) add 10,000 small files to a 7z as the viewer sends them (each in a
# block of its own) vs `7zz a -ms=off` of the same files.
# Prints the best of three wall times and ratios (ours / theirs). Ours flush
# the new archive to disk before it replaces the old one; the tools do not,
# so the rewrites are measured also against the tool followed by `sync FILE`.
#   bench/writing.sh [BUILD_DIR]      SCALE=0.1 for a quick run
set -euo pipefail
source "$(dirname "$0")/common.sh"
BUILD=$(cd "${1:-build}" && pwd)
DRIVER="$BUILD/tests/component_driver"
WORK=${BENCH_WORK:-/tmp/salvo-bench-writing}
mkdir -p "$WORK"
cd "$WORK"
for t in zip jlha 7zz; do command -v $t > /dev/null || { echo "$t is not installed"; exit 1; }; done

ZIP_MB=$(scaled 300); TEXT_MB=$(scaled 100); SEVEN_MB=$(scaled 100); SOLID_MB=$(scaled 20)
if [ ! -f "inputs-$SCALE.done" ]; then
  rm -rf src add text solid
  python3 - "$ZIP_MB" "$TEXT_MB" "$SEVEN_MB" "$SOLID_MB" <<'PY'
import os, random, sys, zipfile
zip_mb, text_mb, seven_mb, solid_mb = map(int, sys.argv[1:])
rnd = random.Random(1)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(4000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(rnd.choice(words) for _ in range(64)) + b"\n"
    return bytes(out[:n])
chunk = text(1 << 20)
per = zip_mb * (1 << 20) // 2000
with zipfile.ZipFile("files.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(2000):
        z.writestr(f"dir{i % 20}/file{i:04}.txt", (chunk * (per // len(chunk) + 1))[i:i + per])
os.makedirs("add", exist_ok=True)
for i in range(10):
    with open(f"add/new{i}.txt", "wb") as f:
        f.write(text(1 << 20))
os.makedirs("text", exist_ok=True)
with open("text/big.txt", "wb") as f:
    for i in range(text_mb):
        f.write(text(1 << 20))
for name, mb, count in (("src", seven_mb, 200), ("solid", solid_mb, 200)):
    os.makedirs(name, exist_ok=True)
    per = mb * (1 << 20) // count
    for i in range(count):
        with open(f"{name}/f{i:03}.txt", "wb") as f:
            f.write((chunk * (per // len(chunk) + 1))[i * 7:i * 7 + per])
PY
  printf '"new%d.txt"\n' 0 1 2 3 4 5 6 7 8 9 > add.list
  printf '"big.txt"\n' > text.list
  echo seed > seed.txt
  jlha aq seed.lzh seed.txt
  (cd src && 7zz a -bd -bso0 -ms=off ../plain.7z .)
  (cd solid && 7zz a -bd -bso0 ../solid.7z .)
  touch "inputs-$SCALE.done"
fi
MANY=$(scaled 10000)
if [ ! -f "many-$MANY.done" ]; then
  rm -rf many
  python3 - "$MANY" <<'PY'
import os, random, sys
count = int(sys.argv[1])
rnd = random.Random(2)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(2000)]
os.makedirs("many", exist_ok=True)
with open("many.list", "w") as listing:
    for i in range(count):
        size = rnd.randint(100, 4000)
        out = bytearray()
        while len(out) < size:
            out += b" ".join(rnd.choice(words) for _ in range(16)) + b"\n"
        with open(f"many/small{i:05}.txt", "wb") as f:
            f.write(bytes(out[:size]))
        listing.write(f'"small{i:05}.txt"\n')
PY
  mkdir -p seed7 && echo seed > seed7/seed.txt && rm -f seed.7z
  (cd seed7 && 7zz a -bd -bso0 ../seed.7z seed.txt)
  touch "many-$MANY.done"
fi
echo "inputs: files.zip $(du -m files.zip | cut -f1) MB (2,000 entries), 10 files of 1 MB to add," \
     "$TEXT_MB MB of text, plain.7z $(du -m plain.7z | cut -f1) MB (200 blocks), solid.7z $(du -m solid.7z | cut -f1) MB"

# Best of three, the two sides taking turns on fresh copies; the copies are
# made before the clock starts.
run_pair() { # name, input, our command, reference tool, its command
  local name=$1 input=$2 ours=$3 tool=$4 theirs=$5 t0 t1 a=999 b=999 i
  for i in 1 2 3; do
    cp "$input" ours.tmp; sync
    t0=$(now); eval "$ours" > /dev/null; t1=$(now)
    a=$(python3 -c "print(min($a, $t1 - $t0))")
    cp "$input" theirs.tmp; sync
    t0=$(now); eval "$theirs" > /dev/null; t1=$(now)
    b=$(python3 -c "print(min($b, $t1 - $t0))")
  done
  printf '%-38s ours %7.2f s   %-5s %7.2f s   ratio %s\n' "$name" "$a" "$tool" "$b" "$(ratio "$a" "$b")"
}

run_pair "(a) delete 1 entry of 2,000 (zip)" files.zip \
  "'$DRIVER' zip32j.so Zip '-d \"$WORK/ours.tmp\" \"dir5/file0005.txt\"'" \
  zip "zip -q -d theirs.tmp dir5/file0005.txt"
unzip -tq ours.tmp > /dev/null && echo "    our result passes unzip -t"
run_pair "    the same, the tool with sync" files.zip \
  "'$DRIVER' zip32j.so Zip '-d \"$WORK/ours.tmp\" \"dir5/file0005.txt\"'" \
  zip "zip -q -d theirs.tmp dir5/file0005.txt && sync theirs.tmp"
run_pair "(b) add 10 files of 1 MB (zip)" files.zip \
  "'$DRIVER' zip32j.so Zip '-u -S -D \"$WORK/ours.tmp\" \"$WORK/add/\" \"$WORK/add.list\"'" \
  zip "(cd add && zip -q -u ../theirs.tmp new*.txt)"
unzip -tq ours.tmp > /dev/null && echo "    our result passes unzip -t"
run_pair "    the same, the tool with sync" files.zip \
  "'$DRIVER' zip32j.so Zip '-u -S -D \"$WORK/ours.tmp\" \"$WORK/add/\" \"$WORK/add.list\"'" \
  zip "(cd add && zip -q -u ../theirs.tmp new*.txt) && sync theirs.tmp"
run_pair "(c) -lh5- of $TEXT_MB MB of text" seed.lzh \
  "'$DRIVER' unlha32.so Unlha 'a -x \"$WORK/ours.tmp\" \"$WORK/text/\" \"$WORK/text.list\"'" \
  jlha "(cd text && jlha aq ../theirs.tmp big.txt)"
ours=$(stat -c %s ours.tmp); theirs=$(stat -c %s theirs.tmp)
echo "    archive size: ours $ours bytes, jlha $theirs bytes, ratio $(ratio "$ours" "$theirs")"
jlha t ours.tmp > /dev/null && echo "    our result passes jlha t"
run_pair "(d) delete 1 file from 200 blocks (7z)" plain.7z \
  "'$DRIVER' 7-zip32.so SevenZip 'd \"$WORK/ours.tmp\" \"f005.txt\"'" \
  7zz "7zz d -bd -bso0 theirs.tmp f005.txt"
7zz t ours.tmp > /dev/null && echo "    our result passes 7zz t"
run_pair "    the same, the tool with sync" plain.7z \
  "'$DRIVER' 7-zip32.so SevenZip 'd \"$WORK/ours.tmp\" \"f005.txt\"'" \
  7zz "7zz d -bd -bso0 theirs.tmp f005.txt && sync theirs.tmp"
run_pair "(e) delete 1 file from a solid 7z" solid.7z \
  "'$DRIVER' 7-zip32.so SevenZip 'd \"$WORK/ours.tmp\" \"f005.txt\"'" \
  7zz "7zz d -bd -bso0 theirs.tmp f005.txt"
7zz t ours.tmp > /dev/null && echo "    our result passes 7zz t"
run_pair "(f) add $MANY small files (7z, no solid)" seed.7z \
  "'$DRIVER' 7-zip32.so SevenZip 'a -t7z \"$WORK/ours.tmp\" \"$WORK/many/\" \"$WORK/many.list\" -ms=off'" \
  7zz "(cd many && 7zz a -bd -bso0 -ms=off ../theirs.tmp '*')"
7zz t ours.tmp > /dev/null && echo "    our result passes 7zz t"
names() { 7zz l -slt "$1" | sed -n 's/^Path = //p' | tail -n +2 | sort; }
if [ "$(names ours.tmp)" = "$(names theirs.tmp)" ]; then
  echo "    the same $(names ours.tmp | wc -l) entries as 7zz's; sizes: ours $(stat -c %s ours.tmp), 7zz $(stat -c %s theirs.tmp) bytes"
else
  echo "    FAIL: the entries differ from 7zz's"
fi
rm -f ours.tmp theirs.tmp
