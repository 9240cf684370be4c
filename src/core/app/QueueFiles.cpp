#include "QueueFiles.h"

#include "platform/LocalPath.h"
#include "platform/TextCodec.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace salvo {

void discardFilterBackup(const QString &myPath)
{
    QFile::remove(myPath + QLatin1String(kFilterBackupFile));
}

QStringList listFileFilters()
{
    return {QStringLiteral("List Files(*.txt,*.csv) (*.txt *.csv)"), QStringLiteral("TXT Files(*.txt) (*.txt)"),
            QStringLiteral("CSV Files(*.csv) (*.csv)"), QStringLiteral("ALL Files(*.*) (*)")};
}

QString listFileNameWithExtension(const QString &name)
{
    const QString tail = name.right(4).toLower();
    if (tail == QLatin1String(".csv") || tail == QLatin1String(".txt"))
        return name;
    return name + QStringLiteral(".txt");
}

QByteArray fileListBytes(const QStringList &entries)
{
    QByteArray bytes;
    for (const QString &entry : entries)
        bytes += localBytesOfPath(entry) + "\r\n";
    return bytes;
}

bool saveFileList(const QString &path, const QStringList &entries)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = fileListBytes(entries);
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

namespace {

// The lines of a list file: CR LF, LF and CR alone each end a line; the break
// that ends the last line does not open another one. (Neither byte occurs
// inside a UTF-8 or CP932 character.)
QList<QByteArray> splitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    const qsizetype n = bytes.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < n && bytes.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(bytes.mid(start));
    return lines;
}

// One line of a file that is not UTF-8 throughout: a UTF-8 line as such; else
// the bytes of a file that exists under them (a name that is not UTF-8, as
// this program saves it); else CP932 text, as Japanese Windows writes lists.
QString decodeMixedLine(const QByteArray &line)
{
    const QString asPath = pathFromLocalBytes(line);
    if (!hasRawBytes(asPath) || localPathExists(asPath))
        return asPath;
    return decodeCp932(line);
}

} // namespace

LoadStatus loadFileList(const QString &path, QStringList *entries)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return LoadStatus::CannotOpen;
    if (in.size() > kMaxListFileBytes)
        return LoadStatus::TooLarge;
    entries->append(fileListEntries(in.readAll()));
    return LoadStatus::Ok;
}

QStringList fileListEntries(QByteArray bytes)
{
    bytes.replace('\0', QByteArray());
    // Byte order marks at the start are no text, however many an editor wrote.
    while (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const bool utf8 = isValidUtf8(bytes);
    // Each line as its bytes stand (QString::fromUtf8 would drop a byte order
    // mark that opens a line, and the name would reach no file).
    const QList<QByteArray> lines = splitLines(bytes);
    QStringList entries;
    entries.reserve(lines.size());
    for (const QByteArray &line : lines)
        entries.append(utf8 ? pathFromLocalBytes(line) : decodeMixedLine(line));
    return entries;
}

void sortQueueEntries(QStringList &entries, int key)
{
    if (key < 0 || key > 2)
        return;
    struct Item {
        QString key;
        qsizetype index;
    };
    std::vector<Item> items;
    items.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString &path = entries.at(i);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        QString k = key == 0 ? path : key == 1 ? (slash < 0 ? QString() : path.left(slash)) : path.mid(slash + 1);
        items.push_back({k.toCaseFolded(), i});
    }
    std::stable_sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.key < b.key; });
    QStringList sorted;
    sorted.reserve(entries.size());
    for (const Item &item : items)
        sorted << entries.at(item.index);
    entries = sorted;
}

} // namespace salvo
