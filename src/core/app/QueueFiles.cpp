#include "QueueFiles.h"

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

bool saveFileList(const QString &path, const QStringList &entries)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (const QString &entry : entries) {
        const QByteArray line = entry.toUtf8() + "\r\n";
        if (out.write(line) != line.size()) {
            out.cancelWriting();
            return false;
        }
    }
    return out.commit();
}

LoadStatus loadFileList(const QString &path, QStringList *entries)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return LoadStatus::CannotOpen;
    if (in.size() > kMaxListFileBytes)
        return LoadStatus::TooLarge;
    QByteArray bytes = in.readAll();
    bytes.replace('\0', QByteArray());
    QString text = decodeUtf8OrCp932(bytes);
    // Byte order marks at the start are no text, however many an editor wrote.
    while (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    // The line break that ends the last line does not open another one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    entries->append(lines);
    return LoadStatus::Ok;
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
