#!/bin/bash
# The peer matrix: one archive of every kind, made by its real tool from a
# known tree, extracted by this program (the way a run does: bench/matrix_driver),
# by `7zz x`, `bsdtar -xf` and `unar`, and each output compared with the tree:
#   OK     the tool said it succeeded and every file, link, name and executable bit is there
#   FAIL   the tool said it failed
#   WRONG  the tool said it succeeded, but the output differs from the tree
#   -      the tool is not installed
# A kind whose maker is not installed is left out with a note.
#   bench/peer_matrix.sh [BUILD_DIR]
set -uo pipefail
BUILD=$(cd "${1:-build}" && pwd)
DRIVER="$BUILD/bench/matrix_driver"
[ -x "$DRIVER" ] || { echo "build it first: cmake --build $BUILD --target matrix_driver salvo-archive-worker"; exit 2; }
WORK=$(mktemp -d /tmp/salvo-peer-matrix.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export SALVO_COMPONENT_PATH="$BUILD"
have() { command -v "$1" >/dev/null 2>&1; }

# The source tree, with what a kind can hold: links, modes (the executable
# bit), an empty folder, folders, names outside ASCII.
make_source() { # dir links modes emptydir folders japanese
  local d=$1
  mkdir -p "$d"
  printf 'hello\n' > "$d/hello.txt"
  head -c 204800 /dev/urandom > "$d/random.bin"
  : > "$d/empty.txt"
  if [ "$5" = 1 ]; then
    mkdir -p "$d/data" "$d/deep/a/b/c"
    head -c 102400 /dev/zero > "$d/data/zeros.bin"
    printf 'deep\n' > "$d/deep/a/b/c/note.txt"
    if [ "$6" = 1 ]; then mkdir -p "$d/日本語"; printf '名前\n' > "$d/日本語/名前.txt"; fi
  fi
  [ "$4" = 1 ] && mkdir -p "$d/emptydir"
  if [ "$3" = 1 ]; then printf '#!/bin/sh\necho run\n' > "$d/run.sh"; chmod 755 "$d/run.sh"; fi
  if [ "$2" = 1 ]; then
    ln -s hello.txt "$d/link-to-hello"
    [ "$5" = 1 ] && ln -s ../../../../hello.txt "$d/deep/a/b/c/up"
  fi
  return 0
}

# name ^ tools needed ^ links modes emptydir folders japanese ^ maker (run in the source folder, $A the archive) ^ archive name ^ password
KINDS=(
  "zip by Info-ZIP^zip^1 1 1 1 1^zip -qry \$A .^a.zip^"
  "zip by Python zipfile^python3^0 1 1 1 1^python3 \$PYZIP \$A 8^a.zip^"
  "zip, LZMA, an empty file^python3^0 1 1 1 1^python3 \$PYZIP \$A 14^a.zip^"
  "zip in volumes (zip -s)^zip^1 1 1 1 1^zip -qry -s 64k \$A .^a.zip^"
  "zip, Deflate64 (7zz)^7zz^1 1 1 1 1^7zz a -bd -snl -tzip -mm=Deflate64 \$A . >/dev/null^a.zip^"
  "zip named .jar^zip^1 1 1 1 1^zip -qry \$A .^a.jar^"
  "zip named .cbz^zip^1 1 1 1 1^zip -qry \$A .^a.cbz^"
  "zip named .epub^zip^1 1 1 1 1^zip -qry \$A .^a.epub^"
  "zip named .apk^zip^1 1 1 1 1^zip -qry \$A .^a.apk^"
  "zip named .docx^zip^1 1 1 1 1^zip -qry \$A .^a.docx^"
  "zip named .odt^zip^1 1 1 1 1^zip -qry \$A .^a.odt^"
  "7z (7zz)^7zz^1 1 1 1 1^7zz a -bd -snl \$A . >/dev/null^a.7z^"
  "7z named .zip^7zz^1 1 1 1 1^7zz a -bd -snl -t7z \$A . >/dev/null^a.zip^"
  "7z, ARM64 filter^7zz^1 1 1 1 1^7zz a -bd -snl -mf=ARM64 \$A . >/dev/null^a.7z^"
  "7z, RISC-V filter^7zz^1 1 1 1 1^7zz a -bd -snl -mf=RISCV \$A . >/dev/null^a.7z^"
  "7z, Deflate64^7zz^1 1 1 1 1^7zz a -bd -snl -m0=Deflate64 \$A . >/dev/null^a.7z^"
  "7z, AES, encrypted names^7zz^1 1 1 1 1^7zz a -bd -snl -psecret -mhe=on \$A . >/dev/null^a.7z^secret"
  "7z, AES, names open^7zz^1 1 1 1 1^7zz a -bd -snl -psecret \$A . >/dev/null^a.7z^secret"
  "7z self-extractor (ELF)^7zz^1 1 1 1 1^7zz a -bd -snl \$A.7z . >/dev/null && cat /bin/true \$A.7z > \$A && rm \$A.7z^installer^"
  "LZH (jlha)^jlha^0 0 0 1 0^jlha a \$A * >/dev/null^a.lzh^"
  "CAB (gcab)^gcab^0 0 0 1 1^gcab -c -z \$A \$(find . -type f | cut -c3- | sort)^a.cab^"
  "ARJ (arj)^arj^0 0 0 1 1^arj a -r -y \$A '*' >/dev/null^a.arj^"
  "tar (GNU tar)^tar^1 1 1 1 1^tar cf \$A .^a.tar^"
  "tar.gz^tar^1 1 1 1 1^tar czf \$A .^a.tar.gz^"
  "tar.bz2^tar bzip2^1 1 1 1 1^tar cjf \$A .^a.tar.bz2^"
  "tar.xz^tar xz^1 1 1 1 1^tar cJf \$A .^a.tar.xz^"
  "tar.zst^tar zstd^1 1 1 1 1^tar --zstd -cf \$A .^a.tar.zst^"
  "tar.lz4^tar lz4^1 1 1 1 1^tar cf - . | lz4 -q > \$A^a.tar.lz4^"
  "tar.lzo^tar lzop^1 1 1 1 1^tar cf - . | lzop > \$A^a.tar.lzo^"
  "pax (bsdtar)^bsdtar^1 1 1 1 1^bsdtar --format pax -cf \$A .^a.tar^"
  "cpio newc^cpio^1 1 1 1 1^find . | cpio -o -H newc > \$A 2>/dev/null^a.cpio^"
  "cpio odc^cpio^1 1 1 1 1^find . | cpio -o -H odc > \$A 2>/dev/null^a.cpio^"
  "ISO 9660 + Rock Ridge (genisoimage)^genisoimage^1 1 1 1 1^genisoimage -quiet -R -o \$A .^a.iso^"
  "ISO 9660 + Joliet (genisoimage)^genisoimage^0 0 0 1 1^genisoimage -quiet -J -joliet-long -o \$A .^a.iso^"
  "ISO 9660 + RR + Joliet (xorriso)^xorriso^1 1 1 1 1^xorriso -as mkisofs -quiet -R -J -o \$A . 2>/dev/null^a.iso^"
  "ar (binutils)^ar^0 0 0 0 0^ar rc \$A hello.txt random.bin empty.txt^a.ar^"
  "xar (bsdtar)^bsdtar^1 1 1 1 1^bsdtar --format xar -cf \$A .^a.xar^"
  "deb (dpkg-deb)^dpkg-deb^1 1 1 1 1^DEB^a.deb^"
  "rpm (rpmbuild)^rpmbuild^1 1 1 1 1^RPM^a.rpm^"
)

PYZIP="$WORK/pyzip.py"
cat > "$PYZIP" <<'PY'
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1], "w", compression=int(sys.argv[2]))
for folder, dirs, files in sorted(os.walk(".")):
    for d in sorted(dirs): z.write(os.path.join(folder, d))
    for f in sorted(files): z.write(os.path.join(folder, f))
z.close()
PY

# Compares two trees: every path, its kind, bytes or link text, executable bit.
COMPARE="$WORK/compare.py"
cat > "$COMPARE" <<'PY'
import hashlib, os, stat, sys
def tree(root):
    out = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            p = os.path.join(folder, name)
            rel = os.path.relpath(p, root)
            st = os.lstat(p)
            if stat.S_ISLNK(st.st_mode):
                out[rel] = "link:" + os.readlink(p)
            elif stat.S_ISDIR(st.st_mode):
                out[rel] = "dir"
            else:
                out[rel] = hashlib.sha256(open(p, "rb").read()).hexdigest() + (" +x" if st.st_mode & 0o100 else "")
    return out
a, b = tree(sys.argv[1]), tree(sys.argv[2])
sys.exit(0 if a == b else 1)
PY

verdict() { # exit-code output-dir expected-dir
  if [ "$1" != 0 ]; then echo FAIL; elif python3 "$COMPARE" "$2" "$3"; then echo OK; else echo WRONG; fi
}

printf '| %-36s | %-12s | %-6s | %-6s | %-6s |\n' "kind" "this program" "7zz" "bsdtar" "unar"
printf '|%s|%s|%s|%s|%s|\n' "--------------------------------------" "--------------" "--------" "--------" "--------"
i=0
for kind in "${KINDS[@]}"; do
  IFS='^' read -r name tools holds maker file password <<< "$kind"
  i=$((i + 1)); K="$WORK/$i"; mkdir -p "$K"
  missing=""
  for t in $tools; do have "$t" || missing="$missing $t"; done
  if [ -n "$missing" ]; then echo "($name left out:$missing not installed)" >&2; continue; fi
  # shellcheck disable=SC2086
  make_source "$K/src" $holds
  A="$K/$file"
  EXPECT="$K/src"
  case "$maker" in
    DEB)
      mkdir -p "$K/pkg/DEBIAN"; cp -a "$K/src" "$K/pkg/opt"
      printf 'Package: salvo-test\nVersion: 1.0\nArchitecture: all\nMaintainer: T <t@example.org>\nDescription: t\n' > "$K/pkg/DEBIAN/control"
      dpkg-deb -Zxz --root-owner-group -b "$K/pkg" "$A" >/dev/null
      mkdir -p "$K/members"; (cd "$K/members" && ar x "$A"); EXPECT="$K/members" ;;
    RPM)
      printf 'Name: salvo-test\nVersion: 1.0\nRelease: 1\nSummary: t\nLicense: MIT\nBuildArch: noarch\n%%description\nt\n%%install\nmkdir -p %%{buildroot}/opt\ncp -a %s %%{buildroot}/opt/salvo\n%%files\n/opt/salvo\n' "$K/src" > "$K/t.rpmrecipe"
      (cd "$K" && rpmbuild -bb --quiet --define "_topdir $K/rpm" --define '_binary_payload w9.xzdio' t.rpmrecipe >/dev/null 2>&1 && cp rpm/RPMS/noarch/*.rpm "$A")
      mkdir -p "$K/installed/opt"; cp -a "$K/src" "$K/installed/opt/salvo"; EXPECT="$K/installed" ;;
    *) (cd "$K/src" && eval "${maker//\$A/\"$A\"}") ;;
  esac
  if [ ! -f "$A" ]; then echo "($name left out: the maker failed)" >&2; continue; fi

  mkdir -p "$K/ours" "$K/7zz" "$K/bsdtar" "$K/unar" "$K/home"
  "$DRIVER" "$K/home/" "$A" "$K/ours" $password >/dev/null 2>&1; ours=$(verdict $? "$K/ours" "$EXPECT")
  if have 7zz; then 7zz x -y -o"$K/7zz" ${password:+-p$password} "$A" >/dev/null 2>&1 </dev/null; z=$(verdict $? "$K/7zz" "$EXPECT"); else z=-; fi
  if have bsdtar; then bsdtar -xf "$A" -C "$K/bsdtar" ${password:+--passphrase $password} >/dev/null 2>&1 </dev/null; b=$(verdict $? "$K/bsdtar" "$EXPECT"); else b=-; fi
  if have unar; then unar -q -D -o "$K/unar" ${password:+-p $password} "$A" >/dev/null 2>&1 </dev/null; u=$(verdict $? "$K/unar" "$EXPECT"); else u=-; fi
  printf '| %-36s | %-12s | %-6s | %-6s | %-6s |\n' "$name" "$ours" "$z" "$b" "$u"
done
