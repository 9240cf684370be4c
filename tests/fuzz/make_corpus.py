#!/usr/bin/env python3
"""Writes the seed inputs of the fuzzers into tests/fuzz/corpus/<fuzzer>/.

Every seed is small and made here: command lines of every dialect, entry-name
lists, and archives of every served format with the names and shapes that
matter (folders, links, CP932 names, names leading out, damaged checksums).
Archives of formats Python cannot write come from jlha, 7zz and gcab when they
are installed, and the small archives of tests/data/ (libarchive's test
fixtures, see the README there) are copied. Inputs a fuzzer once failed on are kept in the same
folders under names of their own; this script never removes a file.

Usage: tests/fuzz/make_corpus.py [CORPUS_FOLDER]
"""
import gzip
import bz2
import io
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
TEST_DATA = os.path.join(ROOT, "tests", "data")
MTIME = 1700000000
# Tar archives end after their two zero blocks, not padded to 10 KiB.
tarfile.RECORDSIZE = tarfile.BLOCKSIZE

CP932_NAME = "表示.txt".encode("cp932")          # second byte of 表 is 0x5C
CP932_FOLDER = "資料/ソース.txt".encode("cp932")  # ソ ends in 0x5C too


def put(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- command lines ----------------------------------------------------------

DIALECTS = {"unlha": 0, "unzip": 1, "sevenzip": 2, "cab": 3, "unrar": 4, "tar": 5, "zip": 6}

COMMAND_LINES = {
    "unlha": ['x -c0 -m0 "/a.lzh" "/o/" dir/file.txt -y -jf0',
              'e -m1 "/in dir/a.lzh" "/o/" "*.*"',
              't "/a.lzh"', 'l a.lzh',
              'd -jyd "/a.lzh" "f.txt" "dir\\g.txt"',
              'a -x "/a.lzh" -jb"x\\y z" "/b/" "@/l.tmp"',
              'u -r2 "/a.lzh" "/b/" "*.txt"'],
    "unzip": ['-x -j -o "/a.zip" "/o/" "*.*"', '-t "a.zip"', '-l "/a.zip"',
              '"/a.zip" "C:\\out\\" "dir\\*.txt"'],
    "sevenzip": ['x -y -o"/out dir" "/a.7z" "*"', 'e -aoa "/a.7z" "/o/" "a?c.txt"',
                 'd "/a.7z" "f.txt"', 'a -t7z -r -ms=off "/a.7z" "/b/" "@/l.tmp"',
                 'u -tzip "/a.zip" "/b/" "*.*"'],
    "cab": ['-x "/a.cab" "/o/"', '-l "/a.cab"'],
    "unrar": ['-x -y "/a.rar" "/o/"', '-e "/a.rar" "/o/" "*.txt"', '-t "/a.rar"', '-v "/a.rar"'],
    "tar": ['x --use-directory=0 "/a.tar.gz" "/o/"', '-x "/a.tgz" "/o/"', '--list "/a.tar"',
            't "/a.tar.bz2"'],
    "zip": ['-d "/a.zip" "f.txt" "dir/"', '-r -D -u "/a.zip" "/b/" "@/l.tmp"', '"/a.zip" "/b/" "*.*"'],
}


def command_line(out):
    for dialect, lines in COMMAND_LINES.items():
        for i, line in enumerate(lines):
            put(out, "%s-%d" % (dialect, i), bytes([DIALECTS[dialect]]) + line.encode())


# --- entry names --------------------------------------------------------------

BACKSLASH, CONVERTED, ZIP, STAGED, FLAT, FORCE = 1, 2, 4, 8, 16, 32

ENTRY_LISTS = {
    "plain": (0, [b"dsub/", b"fsub/a.txt", b"fb.txt", b"f./c.txt", b"d./"]),
    "leading-out": (FORCE, [b"f../evil", b"fa/../../evil", b"f/abs", b"fC:x", b"fok"]),
    "backslash-zip": (BACKSLASH | CONVERTED | ZIP, [b"fdir\\file.txt", b"f..\\evil", b"f\\abs", b"fC:\\x"]),
    "cp932-zip": (BACKSLASH | CONVERTED | ZIP, [b"f" + CP932_NAME, b"f" + CP932_FOLDER]),
    "cp932-mixed": (BACKSLASH, [b"f" + "ü.txt".encode(), b"f" + CP932_NAME, b"f\xff\xfe.txt"]),
    "links": (0, [b"lin\t.", b"lup\t..", b"labs\t/etc", b"fin/x", b"ld\tsub", b"dsub/", b"fd/x"]),
    "link-chain": (0, [b"lb\t.", b"la\tb/.."]),
    "hard-links": (FORCE, [b"fa.txt", b"hb.txt\ta.txt", b"hc.txt\t../sentinel", b"hd.txt\tnone"]),
    "staged-over-links": (STAGED | FORCE, [b"fescape/sentinel", b"fescape", b"lescape2\t../.."]),
    "flat": (FLAT | FORCE, [b"fa/b/c.txt", b"la/l\t../../x", b"fd/c.txt"]),
}


def entry_names(out):
    for name, (flags, lines) in ENTRY_LISTS.items():
        put(out, name, bytes([flags]) + b"\n".join(lines))


# --- settings files, hand-off messages, queue lists ---------------------------

SETTINGS = {
    "typical-crlf": "; settings\r\n[GENERAL]\r\nLeft=120\r\nTop=-70000\r\nSlvoStartUpMode=Extract\r\n"
                    "AlwaysPath=\" /home/u/out \"\r\nSORT=2abc\r\n\r\n[EXTRACT_NORMAL]\r\n"
                    "TargetPlace=Desktop\r\nFileNameFolder=1\r\n[DDMODE]\r\nExtractMode=2\r\n"
                    "TargetPath='/tmp/x'\r\n".encode(),
    "duplicates": b"[general]\n  sort = 1 \nSORT=2\n[GENERAL]\nSort=3\n[ DDMODE \nTargetPath=\"open\n;x=1\n=empty\n",
    "cp932": "[GENERAL]\r\nAlwaysPath=C:\\表示\\ソフト\r\n".encode("cp932"),
    "byte-order-marks": b"\xef\xbb\xbf" * 3 + b"[GENERAL]\nSORT=2\n",
    "long-value": b"[GENERAL]\nAlwaysPath=" + "😀".encode() * 200 + b"\n",
    "lone-cr": b"[GENERAL]\rSORT=1\r\nAlwaysPath=a\rb\n",
    "line-break-only": b"\n",
}

def handoff_frame(kind, payload=b""):
    return bytes([kind]) + struct.pack(">I", len(payload)) + payload


BEGIN, PATH, END, ACCEPTED, REFUSED, COMMIT = range(6)


def handoff_message(*paths):
    return (handoff_frame(BEGIN) + b"".join(handoff_frame(PATH, p) for p in paths) + handoff_frame(END)
            + handoff_frame(COMMIT))


HANDOFF = {
    "one-file": handoff_message("/home/u/a.zip".encode()),
    "several": handoff_message(b"/home/u/a b.zip", "/home/u/表.lzh".encode(), "/home/u/表.lzh".encode("cp932")),
    "no-commit": handoff_message(b"/a.zip")[:-5],
    "empty-list": handoff_message(),
    "cut-short": handoff_message(b"/a.zip")[:9],
    "relative": handoff_message(b"a.zip"),
    "nul-inside": handoff_message(b"/a\0b.zip"),
    "unknown-kind": handoff_frame(BEGIN) + handoff_frame(7, b"x"),
    "answer-kind": handoff_frame(ACCEPTED),
    "too-long": handoff_frame(BEGIN) + bytes([PATH]) + struct.pack(">I", 64 * 1024 + 1),
    "path-first": handoff_frame(PATH, b"/a.zip") + handoff_frame(END),
    "after-commit": handoff_message(b"/a.zip") + handoff_frame(BEGIN),
}

QUEUE_LISTS = {
    "crlf": "/in/表 ソ.lzh\r\n/in/b.zip\r\n/in/b.zip\r\n".encode(),
    "lf-and-empty": b"/a.zip\n\n/b.zip",
    "cp932": "C:\\表示\\能力.lzh\r\nD:\\x.zip\r\n".encode("cp932"),
    "nul-and-cr": b"/a\0b.zip\r\r\n/c.zip\r",
    "byte-order-mark": b"\xef\xbb\xbf/a.zip\r\n",
}


def texts(folder, items, prefix=b""):
    for name, data in items.items():
        put(folder, name, prefix + data)


# --- archives -----------------------------------------------------------------

def dos_time(t=MTIME):
    import time
    tm = time.gmtime(t)
    return ((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec // 2),
            ((tm.tm_year - 1980) << 9) | (tm.tm_mon << 5) | tm.tm_mday)


def stored_zip(entries):
    """entries: (name bytes, data, utf8 flag, unix mode, bad crc)"""
    body, central = b"", b""
    tm, dt = dos_time()
    for name, data, utf8, mode, bad in entries:
        crc = zlib.crc32(data) ^ (0xFFFFFFFF if bad else 0)
        flag = 0x800 if utf8 else 0
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flag, 0, tm, dt, crc, len(data), len(data),
                            len(name), 0) + name
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (3 << 8) | 20, 20, flag, 0, tm, dt, crc,
                               len(data), len(data), len(name), 0, 0, 0, 0, mode << 16, len(body)) + name
        body += local + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(body), 0)
    return body + central + end


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def stored_lzh_level0(entries, stated_size=None):
    out = b""
    tm, dt = dos_time()
    for name, data in entries:
        size = len(data) if stated_size is None else stated_size
        rest = b"-lh0-" + struct.pack("<IIHHBBB", len(data), size, tm, dt, 0x20, 0, len(name)) + name
        rest += struct.pack("<H", crc16(data))
        out += bytes([len(rest), sum(rest) & 0xFF]) + rest + data
    return out + b"\0"


def tar_bytes(members, fmt=tarfile.GNU_FORMAT, mode="w", encoding="utf-8"):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode=mode, format=fmt, encoding=encoding, errors="surrogateescape") as t:
        for kind, name, payload in members:
            info = tarfile.TarInfo(name)
            info.mtime = MTIME
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if kind == "d":
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                t.addfile(info)
            elif kind == "l":
                info.type, info.linkname, info.mode = tarfile.SYMTYPE, payload, 0o777
                t.addfile(info)
            elif kind == "h":
                info.type, info.linkname, info.mode = tarfile.LNKTYPE, payload, 0o644
                t.addfile(info)
            else:
                info.size, info.mode = len(payload), 0o644
                t.addfile(info, io.BytesIO(payload))
    return buf.getvalue()


def surrogate(raw):
    return raw.decode("utf-8", "surrogateescape")


def python_archives(out):
    tree = [("d", "docs", None), ("f", "docs/read me.txt", b"hello\n"), ("f", "a.txt", b"a" * 40),
            ("l", "docs/link", "../a.txt"), ("h", "b.txt", "a.txt")]
    put(out, "tree.tar", tar_bytes(tree))
    put(out, "tree-ustar.tar", tar_bytes(tree, tarfile.USTAR_FORMAT))
    put(out, "tree-pax.tar", tar_bytes(tree, tarfile.PAX_FORMAT))
    put(out, "tree.tar.gz", gzip.compress(tar_bytes(tree), mtime=0))
    put(out, "tree.tar.bz2", bz2.compress(tar_bytes(tree)))
    put(out, "tree.tar.xz", lzma.compress(tar_bytes(tree)))
    # Names and links that lead out, and names meeting what the output folder holds.
    put(out, "leading-out.tar", tar_bytes([("f", "../evil", b"x"), ("f", "/abs", b"x")]))
    put(out, "link-out.tar", tar_bytes([("l", "up", ".."), ("f", "up/evil", b"x")]))
    put(out, "hard-link-out.tar", tar_bytes([("h", "h", "../sentinel")]))
    put(out, "over-existing.tar", tar_bytes([("f", "existing", b"new\n"), ("f", "escape/sentinel", b"x"),
                                             ("f", "escape2", b"x"), ("d", "keep", None), ("f", "keep/new", b"n")]))
    put(out, "file-over-folder.tar", tar_bytes([("f", "keep", b"file where a folder is\n")]))
    put(out, "same-name.tar", tar_bytes([("f", "a", b"first"), ("f", "a", b"second"), ("d", "a", None)]))
    # CP932 names: in a plain tar, and compressed after a UTF-8 name.
    cp932 = [("f", surrogate(CP932_NAME), b"sjis\n"), ("f", surrogate(CP932_FOLDER), b"sjis\n")]
    put(out, "cp932.tar", tar_bytes(cp932))
    put(out, "utf8-then-cp932.tar.gz",
        gzip.compress(tar_bytes([("f", "ü.txt", b"u\n")] + cp932), mtime=0))
    # A single compressed file, its stored name leading out.
    raw = io.BytesIO()
    with gzip.GzipFile(filename="../evil.txt", mode="wb", fileobj=raw, mtime=0) as g:
        g.write(b"single file\n")
    put(out, "single.gz", raw.getvalue())
    put(out, "two-members.gz", gzip.compress(b"one\n", mtime=0) + gzip.compress(b"two\n", mtime=0))
    put(out, "single.xz", lzma.compress(b"single file\n"))
    # ZIP: deflated, stored with CP932 names, "\" separators, a link, a bad checksum.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in (("docs/", b""), ("docs/read me.txt", b"hello\n" * 8), ("a.txt", b"a")):
            z.writestr(zipfile.ZipInfo(name, (2023, 11, 14, 22, 13, 20)), data)
    put(out, "deflated.zip", buf.getvalue())
    put(out, "cp932.zip", stored_zip([(CP932_NAME, b"sjis\n", False, 0o100644, False),
                                      (CP932_FOLDER, b"sjis\n", False, 0o100644, False),
                                      ("ü.txt".encode(), b"u\n", True, 0o100644, False)]))
    put(out, "backslash.zip", stored_zip([(b"dir\\file.txt", b"x\n", False, 0, False),
                                          (b"..\\evil", b"x\n", False, 0, False)]))
    put(out, "link.zip", stored_zip([(b"l", b"../..", False, 0o120777, False),
                                     (b"in", b"a.txt", False, 0o120777, False),
                                     (b"a.txt", b"a\n", False, 0o100644, False)]))
    put(out, "bad-crc.zip", stored_zip([(b"a.txt", b"checked\n", False, 0o100644, True)]))
    put(out, "cp932-lh0.lzh", stored_lzh_level0([(CP932_NAME, b"sjis\n"), (b"dir\\a.txt", b"a\n")]))
    put(out, "size-lie.lzh", stored_lzh_level0([(b"lie.txt", b"0123456789")], stated_size=100))


def tool_archives(out):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src")
        os.makedirs(os.path.join(src, "docs"))
        for path, data in (("a.txt", b"a" * 64), ("docs/read me.txt", b"hello\n" * 4)):
            with open(os.path.join(src, path), "wb") as f:
                f.write(data)
            os.utime(os.path.join(src, path), (MTIME, MTIME))
        os.utime(os.path.join(src, "docs"), (MTIME, MTIME))

        def run(args, made):
            if shutil.which(args[0]) is None:
                print("skipped (no %s): %s" % (args[0], made))
                return
            target = os.path.join(tmp, made)
            subprocess.run(args[:2] + [target] + args[2:], cwd=src, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            with open(target, "rb") as f:
                put(out, made, f.read())

        run(["jlha", "a", "a.txt", "docs/read me.txt"], "lh5.lzh")
        run(["7zz", "a", "-mx=1", "a.txt", "docs"], "lzma.7z")
        run(["7zz", "a", "-mx=1", "-mf=off", "-m0=Copy", "a.txt"], "copy.7z")
        if shutil.which("gcab"):
            target = os.path.join(tmp, "mszip.cab")
            subprocess.run(["gcab", "-c", "-z", target, "a.txt", "docs/read me.txt"], cwd=src, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with open(target, "rb") as f:
                put(out, "mszip.cab", f.read())


def stored_archives(out):
    for name in sorted(os.listdir(TEST_DATA)):
        path = os.path.join(TEST_DATA, name)
        if name.endswith(".md") or os.path.getsize(path) > 4096:
            continue
        shutil.copyfile(path, os.path.join(out, "libarchive-" + name))


def archive_extract(out):
    os.makedirs(out, exist_ok=True)
    python_archives(out)
    tool_archives(out)
    stored_archives(out)


def archive_rewrite(out, archives):
    """The archives of the formats the components rewrite, and what deleting
    every entry leaves: a ZIP of its end record alone, an LZH of its end mark."""
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(archives)):
        if name.endswith((".zip", ".7z", ".lzh")):
            shutil.copyfile(os.path.join(archives, name), os.path.join(out, name))
    put(out, "empty.zip", b"PK\x05\x06" + bytes(18))
    put(out, "empty-with-comment.zip", b"PK\x05\x06" + bytes(16) + b"\x03\x00abc")
    put(out, "empty.lzh", b"\x00")


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    command_line(os.path.join(corpus, "command_line"))
    entry_names(os.path.join(corpus, "entry_names"))
    archive_extract(os.path.join(corpus, "archive_extract"))
    archive_rewrite(os.path.join(corpus, "archive_rewrite"), os.path.join(corpus, "archive_extract"))
    texts(os.path.join(corpus, "settings_file"), SETTINGS)
    texts(os.path.join(corpus, "handoff_message"), HANDOFF, b"\x05")
    # The first byte picks the sort key; 0x0F makes one long file of the rest.
    texts(os.path.join(corpus, "queue_list"), QUEUE_LISTS, b"\x10")
    put(os.path.join(corpus, "queue_list"), "long-lines", b"\x0f/very/long/name")


if __name__ == "__main__":
    main()
