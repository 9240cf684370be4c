#include "ArchiveBuilder.h"

#include "worker/Blake2sp.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <QProcess>
#include <QtEndian>
#include <gtest/gtest.h>

namespace salvo::test {
namespace {

void le16(QByteArray &b, quint16 v)
{
    char x[2];
    qToLittleEndian(v, x);
    b.append(x, 2);
}
void le32(QByteArray &b, quint32 v)
{
    char x[4];
    qToLittleEndian(v, x);
    b.append(x, 4);
}

quint16 crc16(const QByteArray &data)
{
    quint16 crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

quint32 crcOf(const QByteArray &data)
{
    return static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef *>(data.constData()),
                                      static_cast<uInt>(data.size())));
}

quint32 statedSize(const RawEntry &e)
{
    return static_cast<quint32>(e.statedSize >= 0 ? e.statedSize : e.data.size());
}

// RAR 5's variable-length integers: seven bits a byte, low bits first.
QByteArray vint(quint64 v)
{
    QByteArray out;
    do {
        out.append(char((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
        v >>= 7;
    } while (v);
    return out;
}

constexpr quint16 kDosTime = (12 << 11) | (30 << 5);             // 12:30:00
constexpr quint16 kDosDate = ((2020 - 1980) << 9) | (5 << 5) | 17; // 2020-05-17

} // namespace

QByteArray storedZip(const std::vector<RawEntry> &entries)
{
    QByteArray out, central;
    for (const RawEntry &e : entries) {
        const quint32 crc = static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef *>(e.data.constData()),
                                                       static_cast<uInt>(e.data.size())))
            ^ (e.badCrc ? 0x5A5A5A5Au : 0u);
        const quint16 flags = e.utf8Flag ? 0x0800 : 0;
        const quint32 offset = static_cast<quint32>(out.size());
        le32(out, 0x04034b50);
        le16(out, 10);
        le16(out, flags);
        le16(out, 0); // stored
        le16(out, kDosTime);
        le16(out, kDosDate);
        le32(out, crc);
        le32(out, e.data.size());
        le32(out, e.data.size());
        le16(out, e.name.size());
        le16(out, 0);
        out += e.name;
        out += e.data;

        le32(central, 0x02014b50);
        le16(central, e.unixMode ? (3 << 8) | 20 : 20); // made by Unix when a mode is given
        le16(central, 10);
        le16(central, flags);
        le16(central, 0);
        le16(central, kDosTime);
        le16(central, kDosDate);
        le32(central, crc);
        le32(central, e.data.size());
        le32(central, statedSize(e));
        le16(central, e.name.size());
        le16(central, 0);
        le16(central, 0);
        le16(central, 0);
        le16(central, 0);
        le32(central, (e.unixMode << 16) | (e.folder ? 0x10 : 0x20));
        le32(central, offset);
        central += e.name;
    }
    const quint32 centralOffset = static_cast<quint32>(out.size());
    out += central;
    le32(out, 0x06054b50);
    le16(out, 0);
    le16(out, 0);
    le16(out, static_cast<quint16>(entries.size()));
    le16(out, static_cast<quint16>(entries.size()));
    le32(out, central.size());
    le32(out, centralOffset);
    le16(out, 0);
    return out;
}

QByteArray storedLzh(const std::vector<RawEntry> &entries, int level)
{
    QByteArray out;
    for (const RawEntry &e : entries) {
        const quint16 crc = crc16(e.data);
        QByteArray h;
        if (level == 0) {
            QByteArray body = e.folder ? QByteArray("-lhd-") : QByteArray("-lh0-");
            le32(body, e.data.size());
            le32(body, statedSize(e));
            le16(body, kDosTime);
            le16(body, kDosDate);
            body.append(char(0x20));
            body.append(char(0));
            body.append(char(e.name.size()));
            body += e.name;
            le16(body, crc);
            quint8 sum = 0;
            for (unsigned char c : body)
                sum += c;
            h.append(char(body.size()));
            h.append(char(sum));
            h += body;
        } else {
            // Level 2: the name goes into extended headers; "\xff" separates folders.
            QByteArray name = e.name, dir;
            const qsizetype cut = name.lastIndexOf('\xff');
            if (cut >= 0) {
                dir = name.left(cut + 1);
                name = name.mid(cut + 1);
            }
            QByteArray ext;
            auto extHeader = [&ext](char type, const QByteArray &payload) {
                le16(ext, static_cast<quint16>(payload.size() + 3));
                ext.append(type);
                ext += payload;
            };
            if (!e.folder)
                extHeader(0x01, name);
            else
                dir += name + '\xff';
            if (!dir.isEmpty())
                extHeader(0x02, dir);
            const qsizetype crcAt = ext.size() + 3; // payload of the header-CRC header below
            extHeader(0x00, QByteArray(2, '\0'));
            le16(ext, 0);
            QByteArray fixed = e.folder ? QByteArray("-lhd-") : QByteArray("-lh0-");
            le32(fixed, e.data.size());
            le32(fixed, e.data.size());
            le32(fixed, 1589718600u); // Unix time
            fixed.append(char(0x20));
            fixed.append(char(2));
            le16(fixed, crc);
            fixed.append('M');
            const quint16 total = static_cast<quint16>(2 + fixed.size() + ext.size());
            le16(h, total);
            h += fixed;
            const qsizetype extAt = h.size();
            h += ext;
            // The header CRC covers the whole header with its own field zeroed.
            const quint16 headerCrc = crc16(h);
            h[extAt + crcAt] = char(headerCrc & 0xff);
            h[extAt + crcAt + 1] = char(headerCrc >> 8);
        }
        out += h;
        out += e.data;
    }
    out.append(char(0));
    return out;
}

QByteArray storedRar(const std::vector<RawEntry> &entries, int version, std::vector<qsizetype> *offsets)
{
    QByteArray out;
    auto mark = [&] {
        if (offsets)
            offsets->push_back(out.size());
    };
    if (version == 4) {
        // Blocks: CRC16 of the rest, type, flags, size; file blocks carry their data.
        auto block = [&out](quint8 type, quint16 flags, const QByteArray &fields, const QByteArray &data) {
            QByteArray h;
            h.append(char(type));
            le16(h, flags);
            le16(h, static_cast<quint16>(7 + fields.size()));
            h += fields;
            le16(out, static_cast<quint16>(crcOf(h) & 0xFFFF));
            out += h + data;
        };
        out = QByteArray("Rar!\x1a\x07\x00", 7);
        block(0x73, 0, QByteArray(6, '\0'), {});
        for (const RawEntry &e : entries) {
            mark();
            QByteArray f;
            le32(f, e.data.size());
            le32(f, statedSize(e));
            f.append(char(2)); // made on Windows
            le32(f, e.badCrc ? crcOf(e.data) ^ 0x5A5A5A5Au : crcOf(e.data));
            le16(f, kDosTime);
            le16(f, kDosDate);
            f.append(char(29));   // version 2.9 reads it
            f.append(char(0x30)); // stored
            le16(f, static_cast<quint16>(e.name.size()));
            le32(f, e.folder ? 0x10 : 0x20);
            f += e.name;
            block(0x74, static_cast<quint16>(0x8000 | (e.folder ? 0xE0 : 0)), f, e.data);
        }
        mark();
        block(0x7B, 0x4000, {}, {});
        return out;
    }
    // RAR 5 headers: CRC32, size, type, flags, extra area size, data size, fields.
    auto header = [&out](quint64 type, const QByteArray &fields, const QByteArray &extra, const QByteArray &data) {
        quint64 flags = (extra.isEmpty() ? 0 : 0x1) | (data.isEmpty() ? 0 : 0x2);
        QByteArray body = vint(type) + vint(flags);
        if (!extra.isEmpty())
            body += vint(static_cast<quint64>(extra.size()));
        if (!data.isEmpty())
            body += vint(static_cast<quint64>(data.size()));
        body += fields + extra;
        const QByteArray sized = vint(static_cast<quint64>(body.size())) + body;
        le32(out, crcOf(sized));
        out += sized + data;
    };
    out = QByteArray("Rar!\x1a\x07\x01\x00", 8);
    header(1, vint(0), {}, {});
    for (const RawEntry &e : entries) {
        mark();
        QByteArray f = vint((e.folder ? 0x1 : 0) | (e.blake2 || e.folder ? 0 : 0x4));
        f += vint(statedSize(e));
        f += vint(e.folder ? 0x10 : 0x20);
        if (!e.blake2 && !e.folder)
            le32(f, e.badCrc ? crcOf(e.data) ^ 0x5A5A5A5Au : crcOf(e.data));
        f += vint(0); // stored, version 0
        f += vint(0); // made on Windows
        f += vint(static_cast<quint64>(e.name.size())) + e.name;
        QByteArray extra;
        if (e.blake2) {
            salvo::arc::Blake2sp hash;
            hash.update(e.data.constData(), static_cast<size_t>(e.data.size()));
            auto digest = hash.finish();
            if (e.badCrc)
                digest[0] ^= 0x5A;
            const QByteArray record = vint(2) + vint(0) + QByteArray(reinterpret_cast<const char *>(digest.data()), 32);
            extra = vint(static_cast<quint64>(record.size())) + record;
        }
        header(2, f, extra, e.data);
    }
    mark();
    header(5, vint(0), {}, {});
    return out;
}

QByteArray writeArchive(const std::vector<Entry> &entries, const char *format, const char *filter,
                        const char *options, const char *passphrase)
{
    archive *a = archive_write_new();
    EXPECT_EQ(archive_write_set_format_by_name(a, format), ARCHIVE_OK) << archive_error_string(a);
    if (std::string(filter) != "none") {
        EXPECT_EQ(archive_write_add_filter_by_name(a, filter), ARCHIVE_OK) << archive_error_string(a);
    }
    if (options) {
        EXPECT_EQ(archive_write_set_options(a, options), ARCHIVE_OK) << archive_error_string(a);
    }
    if (passphrase)
        archive_write_set_passphrase(a, passphrase);
    static std::vector<char> buffer;
    buffer.assign(64 * 1024 * 1024, 0);
    size_t used = 0;
    archive_write_set_bytes_in_last_block(a, 1);
    EXPECT_EQ(archive_write_open_memory(a, buffer.data(), buffer.size(), &used), ARCHIVE_OK);
    for (const Entry &e : entries) {
        archive_entry *ae = archive_entry_new();
        if (e.rawName.isEmpty())
            archive_entry_set_pathname_utf8(ae, e.name.toUtf8().constData());
        else
            archive_entry_copy_pathname(ae, e.rawName.constData());
        archive_entry_set_mtime(ae, 1589718600, 0);
        switch (e.kind) {
        case EntryKind::File:
            archive_entry_set_filetype(ae, AE_IFREG);
            archive_entry_set_size(ae, e.sparseSize >= 0 ? e.sparseSize : e.data.size());
            if (e.sparseSize >= 0)
                archive_entry_sparse_add_entry(ae, 0, e.data.size());
            break;
        case EntryKind::Folder:
            archive_entry_set_filetype(ae, AE_IFDIR);
            break;
        case EntryKind::Symlink:
            archive_entry_set_filetype(ae, AE_IFLNK);
            archive_entry_set_symlink_utf8(ae, e.link.toUtf8().constData());
            break;
        case EntryKind::HardLink:
            archive_entry_set_filetype(ae, AE_IFREG);
            archive_entry_set_hardlink_utf8(ae, e.link.toUtf8().constData());
            break;
        case EntryKind::Fifo:
            archive_entry_set_filetype(ae, AE_IFIFO);
            break;
        }
        archive_entry_set_perm(ae, e.mode);
        EXPECT_EQ(archive_write_header(a, ae), ARCHIVE_OK) << archive_error_string(a);
        if (e.kind == EntryKind::File && !e.data.isEmpty())
            archive_write_data(a, e.data.constData(), e.data.size());
        archive_entry_free(ae);
    }
    EXPECT_EQ(archive_write_close(a), ARCHIVE_OK) << archive_error_string(a);
    archive_write_free(a);
    return QByteArray(buffer.data(), static_cast<qsizetype>(used));
}

QByteArray compressRaw(const QByteArray &data, const char *filter)
{
    archive *a = archive_write_new();
    archive_write_set_format_raw(a);
    EXPECT_EQ(archive_write_add_filter_by_name(a, filter), ARCHIVE_OK) << archive_error_string(a);
    std::vector<char> buffer(data.size() * 2 + 65536);
    size_t used = 0;
    archive_write_set_bytes_in_last_block(a, 1);
    archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
    archive_entry *ae = archive_entry_new();
    archive_entry_set_filetype(ae, AE_IFREG);
    archive_entry_set_pathname(ae, "data");
    archive_write_header(a, ae);
    archive_write_data(a, data.constData(), data.size());
    archive_entry_free(ae);
    archive_write_close(a);
    archive_write_free(a);
    return QByteArray(buffer.data(), static_cast<qsizetype>(used));
}

QByteArray longGzip(int members)
{
    // Concatenated members are one gzip stream.
    return compressRaw(QByteArray(16 * 1024 * 1024, 'x'), "gzip").repeated(members);
}

QByteArray gzipWithName(const QByteArray &data, const QByteArray &originalName)
{
    QByteArray out("\x1f\x8b\x08", 3);
    out.append(char(originalName.isEmpty() ? 0 : 0x08));
    le32(out, 1589718600u);
    out.append(char(0));
    out.append(char(3));
    if (!originalName.isEmpty()) {
        out += originalName;
        out.append(char(0));
    }
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray deflated(static_cast<qsizetype>(deflateBound(&z, data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef *>(deflated.data());
    z.avail_out = static_cast<uInt>(deflated.size());
    deflate(&z, Z_FINISH);
    deflated.resize(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    out += deflated;
    le32(out, static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef *>(data.constData()),
                                         static_cast<uInt>(data.size()))));
    le32(out, static_cast<quint32>(data.size()));
    return out;
}

QByteArray xzInBlocks(const QByteArray &data)
{
    QProcess xz;
    xz.start("xz", {"-T2", "--block-size=64KiB", "-c"});
    xz.write(data);
    xz.closeWriteChannel();
    EXPECT_TRUE(xz.waitForFinished(60000) && xz.exitCode() == 0) << "xz (xz-utils) is needed";
    return xz.readAllStandardOutput();
}

} // namespace salvo::test
