#include "ContentSignature.h"

#include "platform/LocalPath.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace salvo {
namespace {

constexpr qint64 kHead = 64 * 1024;
constexpr qint64 kIsoMark = 32769;
// How far into a program its archive is looked for.
constexpr qint64 kProgramWindow = 16 * 1024 * 1024;

bool startsWith(const QByteArray &head, const char *signature, int size, int at = 0)
{
    return head.size() >= at + size && std::memcmp(head.constData() + at, signature, size) == 0;
}

// An LZH header: "-lh?-", "-lz?-" or "-pm?-" at offset 2.
bool isLzhHeader(const QByteArray &head, int at = 0)
{
    if (head.size() < at + 7 || head[at + 2] != '-' || head[at + 6] != '-')
        return false;
    const QByteArray method = head.mid(at + 3, 2);
    return method == "lh" || method == "lz" || method == "pm";
}

bool isProgram(const QByteArray &head)
{
    return startsWith(head, "MZ", 2) || startsWith(head, "\x7f" "ELF", 4);
}

bool validSevenZipStart(const QByteArray &bytes, qsizetype at)
{
    if (bytes.size() < at + 32)
        return false;
    const auto *h = reinterpret_cast<const unsigned char *>(bytes.constData() + at);
    const uLong stored = h[8] | h[9] << 8 | h[10] << 16 | uLong(h[11]) << 24;
    return crc32(0, h + 12, 20) == stored;
}

// The archive a self-extracting program keeps behind it.
QString insideProgram(QFile &file)
{
    const qint64 size = file.size();
    constexpr qint64 kChunk = 1024 * 1024;
    for (qint64 base = 0; base < std::min(size, kProgramWindow); base += kChunk - 64) {
        if (!file.seek(base))
            break;
        const QByteArray chunk = file.read(kChunk);
        for (qsizetype i = chunk.indexOf("7z\xBC\xAF\x27\x1C"); i >= 0; i = chunk.indexOf("7z\xBC\xAF\x27\x1C", i + 1)) {
            if (validSevenZipStart(chunk, i))
                return QStringLiteral("7Z");
        }
        if (chunk.contains(QByteArray("Rar!\x1A\x07", 6)))
            return QStringLiteral("RAR");
        if (chunk.size() < kChunk)
            break;
    }
    // A ZIP ends with its end record, its comment after it.
    const qint64 tail = std::min<qint64>(size, 0xFFFF + 22);
    if (file.seek(size - tail)) {
        const QByteArray end = file.read(tail);
        for (qsizetype i = end.lastIndexOf("PK\x05\x06"); i >= 0; i = end.lastIndexOf("PK\x05\x06", i - 1)) {
            if (i + 22 > end.size())
                continue;
            const auto *e = reinterpret_cast<const unsigned char *>(end.constData() + i);
            if (i + 22 + (e[20] | e[21] << 8) == end.size())
                return QStringLiteral("ZIP");
            if (i == 0)
                break;
        }
    }
    return {};
}

} // namespace

QString formatIdOfHead(const QByteArray &head, const QByteArray &at32769)
{
    if (startsWith(head, "7z\xBC\xAF\x27\x1C", 6))
        return QStringLiteral("7Z");
    if (startsWith(head, "PK\x03\x04", 4) || startsWith(head, "PK\x05\x06", 4) || startsWith(head, "PK\x07\x08", 4))
        return QStringLiteral("ZIP");
    if (startsWith(head, "Rar!\x1A\x07", 6))
        return QStringLiteral("RAR");
    if (startsWith(head, "MSCF\0\0\0\0", 8))
        return QStringLiteral("CAB");
    if (startsWith(head, "\x60\xEA", 2))
        return QStringLiteral("ARJ");
    if (isLzhHeader(head))
        return QStringLiteral("LZH");
    // What the tar component reads: tarballs under any compressor, the single
    // compressed files, cpio (and rpm around it), ar (and Debian packages),
    // xar, ISO 9660.
    static const struct {
        const char *bytes;
        int size;
        int at;
    } kTarFamily[] = {
        {"ustar", 5, 257},         {"\x1F\x8B", 2, 0},       {"BZh", 3, 0},
        {"\xFD" "7zXZ\0", 6, 0},   {"\x28\xB5\x2F\xFD", 4, 0}, {"\x04\x22\x4D\x18", 4, 0},
        {"\x89LZO\0\r\n\x1A\n", 9, 0}, {"LZIP", 4, 0},        {"\x1F\x9D", 2, 0},
        {"070701", 6, 0},          {"070702", 6, 0},         {"070707", 6, 0},
        {"\xC7\x71", 2, 0},        {"\x71\xC7", 2, 0},       {"!<arch>\n", 8, 0},
        {"xar!", 4, 0},            {"\xED\xAB\xEE\xDB", 4, 0},
    };
    for (const auto &s : kTarFamily) {
        if (startsWith(head, s.bytes, s.size, s.at))
            return QStringLiteral("TAR");
    }
    if (at32769 == "CD001")
        return QStringLiteral("TAR");
    return {};
}

QString formatIdByContent(const QString &path, bool insidePrograms)
{
    // Only a regular file is read: opening a FIFO would wait for a writer.
    const int fd = ::open(localBytesOfPath(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0)
        return {};
    QFile file;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    const QByteArray head = file.read(kHead);
    QByteArray iso;
    if (file.size() > kIsoMark + 5 && file.seek(kIsoMark))
        iso = file.read(5);
    const QString id = formatIdOfHead(head, iso);
    if (!id.isEmpty() || !insidePrograms || !isProgram(head))
        return id;
    return insideProgram(file);
}

} // namespace salvo
