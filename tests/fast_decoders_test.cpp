// The fast decoders (ISA-L's inflate for gzip and ZIP, liblzma's threads for
// xz of several blocks) against the reference ones (zlib, one thread), turned
// on with SALVO_REFERENCE_DECODERS=1: every damaged gzip, ZIP and xz archive
// fails with the same result and text, and every good one gives the same files.
#include "support/ArchiveBuilder.h"
#include "support/DamagedArchives.h"
#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <map>
#include <zlib.h>

using namespace salvo::test;

namespace {

// Text that compresses as text does: words drawn from a small vocabulary.
QByteArray text(int size, unsigned seed)
{
    QByteArray out;
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        const int length = 2 + (seed >> 16) % 8;
        for (int i = 0; i < length; ++i)
            out.append(char('a' + (seed >> (i + 3)) % 26));
        out.append((seed >> 24) % 13 ? ' ' : '\n');
    }
    return out.left(size);
}

// The central directory record of a ZIP's first entry.
qsizetype firstRecord(const QByteArray &zip)
{
    return zip.indexOf(QByteArray("PK\x01\x02", 4));
}

QByteArray patched(QByteArray bytes, qsizetype at, char mask)
{
    bytes[at] = char(bytes[at] ^ mask);
    return bytes;
}

// A gzip member whose deflate data zlib refuses ("invalid distances set": a
// bit flipped in a block's Huffman tables) while ISA-L decodes it, into other
// text than was packed: zlib's verdict is the one to give.
QByteArray refusedHuffmanTables()
{
    return QByteArray::fromHex("1f8b0800000000000003") + QByteArray::fromHex(
    "1d90510a04310843af92ab85aa8cd05a10efcfa63bfd5b9f3109571730ac34b40f2a302051ded36bbf992f4dd860b16c"
    "1980fd67a64f137aeeac99deb8f020dd3e02b1c62b6ae289891dcca5130785707b37b4e7da3e169553719f0c72f82e2d"
    "b101d4ac7e6cc126b561171fc06f4f4d59c5eefa7c9c6c764b7063c9712e19900fe90c9ce3b882f03ed31b83278fb2ed"
    "51102f31fd1df6438bbb6444bfeaa4b40d2f12df91ee3aedee77a8f48259ebd899986709aef47e73ab8f5797695c3bef"
    "6a7573451c98115b9bea3a2f335fef8a5f29d590554cfc00") + QByteArray(8, '\0');
}

void le16(QByteArray &out, uint32_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8 & 0xFF));
}

void le32(QByteArray &out, uint32_t v)
{
    le16(out, v & 0xFFFF);
    le16(out, v >> 16);
}

uint32_t crcOf(const QByteArray &bytes)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// A ZIP whose two local headers lead to the same data: entry "b" (deflated,
// its CRC off by `bCrcDelta`) carries in its extra field the whole local
// header of entry "a" (stored, or deflated too). libarchive reads each entry
// by its own header and record; so must every faster reader.
QByteArray headerHiddenInAnother(const QByteArray &inflated, bool aDeflated, uint32_t bCrcDelta)
{
    const QByteArray data = qCompress(inflated).mid(6).chopped(4); // raw deflate
    struct Entry {
        const char *name;
        uint32_t method, crc, size, offset;
    };
    const Entry a{"a", aDeflated ? 8u : 0u, aDeflated ? crcOf(inflated) : crcOf(data),
                  uint32_t(aDeflated ? inflated.size() : data.size()), 30 + 1 + 4};
    const Entry b{"b", 8, crcOf(inflated) + bCrcDelta, uint32_t(inflated.size()), 0};
    const auto local = [&](const Entry &e, const QByteArray &extra) {
        QByteArray h("PK\x03\x04", 4);
        for (uint32_t v : {20u, 0u, e.method})
            le16(h, v);
        for (uint32_t v : {0u, e.crc, uint32_t(data.size()), e.size})
            le32(h, v);
        le16(h, 1);
        le16(h, uint32_t(extra.size()));
        return h + e.name + extra;
    };
    const auto central = [&](const Entry &e) {
        QByteArray h("PK\x01\x02", 4);
        for (uint32_t v : {20u, 20u, 0u, e.method})
            le16(h, v);
        for (uint32_t v : {0u, e.crc, uint32_t(data.size()), e.size})
            le32(h, v);
        for (uint32_t v : {1u, 0u, 0u, 0u, 0u})
            le16(h, v);
        le32(h, 0);
        le32(h, e.offset);
        return h + e.name;
    };
    const QByteArray inner = local(a, {});
    QByteArray extra;
    le16(extra, 0xCAFE);
    le16(extra, uint32_t(inner.size()));
    const QByteArray body = local(b, extra + inner) + data;
    const QByteArray directory = central(b) + central(a);
    QByteArray end("PK\x05\x06", 4);
    for (uint32_t v : {0u, 0u, 2u, 2u})
        le16(end, v);
    le32(end, uint32_t(directory.size()));
    le32(end, uint32_t(body.size()));
    le16(end, 0);
    return body + directory + end;
}

struct Outcome {
    QByteArray printed; // the failures with their results and texts
    std::map<std::string, std::string> files;
};

// Extracts every archive through one component in one driver process, with
// the fast decoders or with the reference ones.
Outcome extractAll(const TempHome &home, const std::vector<NamedArchive> &archives, const std::string &file,
                   const std::string &prefix, bool reference)
{
    const QString out = home.path("out");
    QDir(out).removeRecursively();
    QByteArray commands;
    for (const auto &[name, bytes] : archives) {
        const QString path = home.path("in/" + name);
        writeFile(path, bytes);
        commands += extractCommand(prefix, path.toStdString(), (out + "/" + name).toStdString()) + "\n";
    }
    QProcess driver;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DECODER_COUNT", "2");
    if (reference)
        env.insert("SALVO_REFERENCE_DECODERS", "1");
    else
        env.remove("SALVO_REFERENCE_DECODERS");
    driver.setProcessEnvironment(env);
    driver.start(SALVO_DRIVER, {QString::fromStdString(file), QString::fromStdString(prefix), "batch"});
    driver.write(commands);
    driver.closeWriteChannel();
    EXPECT_TRUE(driver.waitForFinished(120000));
    return {driver.readAllStandardOutput(), snapshot(out)};
}

TEST(FastDecoders, DamagedArchivesFailAndGoodOnesExtractAsWithTheReferenceDecoders)
{
    TempHome home;
    // The gzip, ZIP and xz cases of the damage tests.
    std::vector<NamedArchive> archives;
    std::vector<NamedArchive> good;
    std::vector<DamagedArchive> damaged = damagedArchives();
    for (DamagedArchive &d : damagedArchivesOfEveryFormat(home, &good))
        damaged.push_back(std::move(d));
    for (const DamagedArchive &d : damaged)
        archives.push_back({d.name, d.bytes});
    archives.insert(archives.end(), good.begin(), good.end());
    std::erase_if(archives, [](const NamedArchive &a) {
        return !(a.first.endsWith(".gz") || a.first.endsWith(".tgz") || a.first.endsWith(".zip")
                 || a.first.endsWith("xz"));
    });

    // Data the fast decoders take: several output buffers of deflated ZIP
    // entries, gzip members and xz blocks.
    const QByteArray a = text(700000, 1), b = text(3000, 2);
    const QByteArray zip = writeArchive({{"dir/a.txt", a}, {"b.txt", b}, {"empty.txt", {}}}, "zip");
    const qsizetype record = firstRecord(zip);
    const QByteArray tar = writeArchive({{"a.txt", a}, {"b.txt", b}}, "ustar");
    const QByteArray members = gzipWithName(tar.left(300000), {}) + gzipWithName(tar.mid(300000), {});
    const QByteArray gz = gzipWithName(a, "a.txt") + gzipWithName(b, {});
    const QByteArray txz = xzInBlocks(tar), xz = xzInBlocks(a);
    archives.insert(archives.end(), {
        {"deflated.zip", zip},
        {"deflated-flip.zip", patched(zip, zip.indexOf("a.txt") + 30000, 0x10)},
        {"deflated-crc.zip", patched(zip, record + 16, 0x01)},
        {"deflated-packed.zip", patched(zip, record + 20, 0x01)},  // the compressed size
        {"deflated-size.zip", patched(zip, record + 24, 0x01)},    // the original size
        {"deflated-cut.zip", zip.left(zip.size() / 2)},
        {"prefixed.zip", QByteArray(5000, 'x') + zip}, // as behind a self-extractor
        {"hidden-stored.zip", headerHiddenInAnother(b, false, 0)},
        {"hidden-deflated-crc.zip", headerHiddenInAnother(b, true, 1)},
        {"members.tgz", members},
        {"members-flip.tgz", patched(members, members.size() - 100000, 0x10)},
        {"members-crc.tgz", patched(members, members.size() - 7, 0x01)},
        {"members.gz", gz},
        {"members-crc1.gz", patched(gz, gzipWithName(a, "a.txt").size() - 8, 0x01)},
        {"members-length.gz", patched(gz, gz.size() - 2, 0x01)},
        {"huffman-tables.gz", refusedHuffmanTables()},
        {"huffman-tables.tgz", refusedHuffmanTables()},
        {"blocks.txz", txz},
        {"blocks-flip.txz", patched(txz, txz.size() / 2, 0x10)},
        {"blocks-flipend.txz", patched(txz, txz.size() - 200, 0x10)},
        {"blocks-index.txz", patched(txz, txz.size() - 20, 0x01)},
        {"blocks-cut.txz", txz.left(txz.size() * 3 / 4)},
        {"blocks.xz", xz},
        {"blocks-flip.xz", patched(xz, xz.size() / 3, 0x04)},
    });

    const QStringList kGood{"deflated.zip", "prefixed.zip", "hidden-stored.zip", "members.tgz", "members.gz", "blocks.txz", "blocks.xz"};
    for (const auto &[file, prefix, zips] : std::vector<std::tuple<std::string, std::string, bool>>{
             {"unzip32.so", "UnZip", true}, {"tar32.so", "Tar", false}}) {
        std::vector<NamedArchive> mine;
        for (const NamedArchive &archive : archives) {
            if (archive.first.endsWith(".zip") == zips)
                mine.push_back(archive);
        }
        Outcome fast = extractAll(home, mine, file, prefix, false);
        const Outcome reference = extractAll(home, mine, file, prefix, true);
        EXPECT_EQ(fast.printed, reference.printed);
        EXPECT_EQ(fast.files, reference.files);
        for (const NamedArchive &archive : mine) {
            const QString &name = archive.first;
            const bool good = name.startsWith("good") || kGood.contains(name);
            EXPECT_NE(fast.printed.contains(QString("/in/" + name + "\"").toUtf8()), good) << name.toStdString();
        }
        if (prefix == "Tar") {
            EXPECT_EQ(fast.files["members.tgz/b.txt"], "file:" + b.toStdString());
            EXPECT_EQ(fast.files["members.gz/a.txt"], "file:" + (a + b).toStdString());
            EXPECT_EQ(fast.files["blocks.txz/a.txt"], "file:" + a.toStdString());
            EXPECT_EQ(fast.files["blocks.xz/blocks"], "file:" + a.toStdString());
        } else {
            EXPECT_EQ(fast.files["deflated.zip/dir/a.txt"], "file:" + a.toStdString());
            EXPECT_EQ(fast.files["prefixed.zip/dir/a.txt"], "file:" + a.toStdString());
            EXPECT_EQ(fast.files["hidden-stored.zip/b"], "file:" + b.toStdString());
            EXPECT_EQ(fast.files["hidden-stored.zip/a"],
                      "file:" + qCompress(b).mid(6).chopped(4).toStdString()); // as stored
        }
    }
}

} // namespace
