#include "DamagedArchives.h"

#include "support/ArchiveBuilder.h"
#include "support/RealArchives.h"
#include "salvo_archiver.h"

#include <QProcess>
#include <QStringList>

namespace salvo::test {
namespace {

// A cabinet made by gcab from files written here (stored, with CFDATA checksums).
QByteArray gcabArchive(const TempHome &home, const std::vector<NamedArchive> &files)
{
    const QString dir = home.path("cab-source");
    QStringList names;
    for (const auto &[name, data] : files) {
        writeFile(dir + "/" + name, data);
        names << name;
    }
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start("gcab", QStringList{"-c", home.path("made.cab")} + names);
    EXPECT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
    return readFile(home.path("made.cab"));
}

} // namespace

QByteArray flipped(QByteArray bytes, qsizetype at)
{
    bytes[at] = char(bytes[at] ^ 0x10);
    return bytes;
}

std::vector<DamagedArchive> damagedArchives()
{
    const QByteArray payload = QByteArray("0123456789").repeated(5000);
    QByteArray gz = gzipWithName(payload, "x.txt");
    QByteArray badTrailer = gz;
    badTrailer[badTrailer.size() - 6] = char(badTrailer[badTrailer.size() - 6] ^ 0x01); // CRC byte
    QByteArray badLength = gz;
    badLength[badLength.size() - 2] = char(badLength[badLength.size() - 2] ^ 0x01);
    const QByteArray tar = writeArchive({{"big.bin", payload}}, "ustar");
    const QByteArray tgz = writeArchive({{"big.bin", payload}}, "ustar", "gzip");
    return {
        {"crc.gz", badTrailer, false, SALVO_E_FILE_CRC},
        {"length.gz", badLength, false, SALVO_E_FILE_CRC},
        {"short.gz", gz.left(gz.size() / 2)},
        {"short.tar", tar.left(3000)},
        {"short.tgz", tgz.left(tgz.size() - 20)},
        {"crc.zip", storedZip({{"ok.txt", "fine"}, {"bad.txt", "damaged", false, false, 0, true}}), false,
         SALVO_E_FILE_CRC},
        {"crc.lzh", [] {
             QByteArray l = storedLzh({{"f.txt", "abcdef"}}, 0);
             l[l.size() - 3] = 'X'; // the data no longer matches its CRC-16
             return l;
         }(), false, SALVO_E_FILE_CRC},
        {"secret.zip", writeArchive({{"s.txt", "secret"}}, "zip", "none", "zip:encryption=zipcrypt", "pw"), false,
         SALVO_E_PASSWORD_FILE},
        {"empty.zip", QByteArray()},
        {"noise.7z", QByteArray(4096, '\x37')},
    };
}

std::vector<DamagedArchive> damagedArchivesOfEveryFormat(const TempHome &home, std::vector<NamedArchive> *good)
{
    const QByteArray a = QByteArray("first entry ").repeated(250), b = QByteArray("second entry ").repeated(150);
    const std::vector<RawEntry> raw{{"first.txt", a}, {"second.txt", b}};
    auto lying = [&] {
        std::vector<RawEntry> r = raw;
        r[0].statedSize = a.size() + 4096; // the header says more than there is
        return r;
    };

    std::vector<qsizetype> at4, at5;
    const QByteArray rar4 = storedRar(raw, 4, &at4), rar5 = storedRar(raw, 5, &at5);
    std::vector<RawEntry> hashed = raw;
    hashed[0].blake2 = true;
    const QByteArray rar5Blake = storedRar(hashed, 5);
    const QByteArray zip = storedZip(raw), lzh = storedLzh(raw, 0);
    const QByteArray sevenZip = writeArchive({{"first.txt", a}, {"second.txt", b}}, "7zip", "none", "7zip:compression=store");
    const QByteArray cab = gcabArchive(home, {{"first.txt", a}, {"second.txt", b}});
    const QByteArray tar = writeArchive({{"first.txt", a}, {"second.txt", b}}, "ustar");
    // A stored entry far larger than one block of reading.
    QByteArray noise(1 << 20, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    const QByteArray big4 = storedRar({{"big.bin", noise}}, 4), big5 = storedRar({{"big.bin", noise}}, 5);
    *good = {{"good.rar", rar4}, {"good5.rar", rar5}, {"blake.rar", rar5Blake}, {"big.rar", big4}, {"big5.rar", big5},
             {"good.zip", zip}, {"good.lzh", lzh}, {"good.7z", sevenZip}, {"good.cab", cab}, {"good.tar", tar}};
    std::vector<DamagedArchive> damaged{
        // A flipped bit in the data of a stored entry.
        {"flip.rar", flipped(rar4, rar4.indexOf(a) + 100), false, SALVO_E_FILE_CRC},
        {"flip5.rar", flipped(rar5, rar5.indexOf(a) + 100), false, SALVO_E_FILE_CRC},
        {"flipblake.rar", flipped(rar5Blake, rar5Blake.indexOf(a) + 100), false, SALVO_E_FILE_CRC},
        {"flipbig.rar", flipped(big4, big4.indexOf(noise) + noise.size() - 100), false, SALVO_E_FILE_CRC},
        {"flipbig5.rar", flipped(big5, big5.indexOf(noise) + noise.size() - 100), false, SALVO_E_FILE_CRC},
        {"flip.zip", flipped(zip, zip.indexOf(a) + 100), false, SALVO_E_FILE_CRC},
        {"flip.lzh", flipped(lzh, lzh.indexOf(a) + 100), false, SALVO_E_FILE_CRC},
        {"flip.7z", flipped(sevenZip, sevenZip.indexOf(a) + 100), false, SALVO_E_FILE_CRC},
        {"flip.cab", flipped(cab, cab.indexOf(a) + 100)},
        {"fliphead.tar", flipped(tar, 512 + ((a.size() + 511) / 512) * 512 + 3), true}, // tar has no data checks
        // Cut inside the second entry's header, and right after the first entry.
        {"cuthead.rar", rar4.left(at4[1] + 10), true},
        {"cuthead5.rar", rar5.left(at5[1] + 5), true},
        {"cutafter.rar", rar4.left(at4[1]), true, SALVO_E_UNEXPECTED_EOF},
        {"cutafter5.rar", rar5.left(at5[1]), true, SALVO_E_UNEXPECTED_EOF},
        {"cutend.rar", rar4.left(at4[2]), true, SALVO_E_UNEXPECTED_EOF},
        {"cutend5.rar", rar5.left(at5[2]), true, SALVO_E_UNEXPECTED_EOF},
        {"cuthead.lzh", lzh.left(lzh.indexOf("second.txt") - 5), true},
        {"cutafter.lzh", lzh.left(lzh.indexOf("second.txt") - 22), true, SALVO_E_UNEXPECTED_EOF},
        {"cutend.lzh", lzh.left(lzh.size() - 1), true, SALVO_E_UNEXPECTED_EOF},
        {"cuthead.zip", zip.left(zip.indexOf("second.txt") + 4), true},
        {"cuthead.7z", sevenZip.left(sevenZip.size() - 10), true},
        {"cuthead.cab", cab.left(cab.indexOf(a) + 100), false},
        {"cuthead.tar", tar.left(512 + ((a.size() + 511) / 512) * 512 + 100), true},
        // Headers that say more than the data holds.
        {"lie.rar", storedRar(lying(), 4), false, SALVO_E_HEADER_BROKEN},
        {"lie5.rar", storedRar(lying(), 5), false, SALVO_E_HEADER_BROKEN},
        {"lie.zip", storedZip(lying()), false, SALVO_E_HEADER_BROKEN},
        {"lie.lzh", storedLzh(lying(), 0), false, SALVO_E_HEADER_BROKEN},
        // A 7z start header that says "nothing follows" without its CRC agreeing.
        {"start.7z", [&] {
             QByteArray s = sevenZip;
             s.replace(20, 8, QByteArray(8, '\0'));
             return s;
         }(), true, SALVO_E_HEADER_BROKEN},
    };
    // Compressed entries as other archivers wrote them.
    for (const auto &[name, flipAt] : std::vector<std::pair<QString, qsizetype>>{
             {"lha_lh6.lzh", 400}, {"rar_compress_normal.rar", 3000}, {"rar5_compressed.rar", 300}}) {
        const QByteArray bytes = readFile(storedArchive(name));
        good->push_back({"real_" + name, bytes});
        damaged.push_back({"flip_" + name, flipped(bytes, flipAt)});
        damaged.push_back({"cut_" + name, bytes.left(bytes.size() - (name.endsWith(".lzh") ? 1 : 4)), true,
                           SALVO_E_UNEXPECTED_EOF});
    }
    // Compressors: a flipped bit in the compressed stream, and a cut.
    const QByteArray payload = QByteArray("0123456789abcdef").repeated(4000);
    for (const auto &[ext, bytes] : std::vector<std::pair<QString, QByteArray>>{
             {"tgz", writeArchive({{"first.txt", payload}}, "ustar", "gzip")},
             {"tbz2", writeArchive({{"first.txt", payload}}, "ustar", "bzip2")},
             {"txz", writeArchive({{"first.txt", payload}}, "ustar", "xz")},
             {"gz", gzipWithName(payload, "payload.txt")},
             {"bz2", compressRaw(payload, "bzip2")},
             {"xz", compressRaw(payload, "xz")}}) {
        good->push_back({"good." + ext, bytes});
        damaged.push_back({"flip." + ext, flipped(bytes, bytes.size() / 2)});
        damaged.push_back({"cut." + ext, bytes.left(bytes.size() - 9), false,
                           ext.contains("gz") ? SALVO_E_UNEXPECTED_EOF : 0});
        // Cut inside the gzip trailer (the checksum and the size).
        if (ext == "gz") {
            for (const int cut : {1, 4, 7})
                damaged.push_back({QStringLiteral("cut%1.gz").arg(cut), bytes.left(bytes.size() - cut), false,
                                   SALVO_E_UNEXPECTED_EOF});
        }
    }
    return damaged;
}

} // namespace salvo::test
