#include "QueueFilter.h"

#include "QueueFiles.h"

#include <QFile>
#include <QHash>
#include <QSet>

namespace salvo {

QStringList filterTerms(const QString &text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool matchesFilter(const QString &path, const QStringList &nameTerms, const QStringList &extensionTerms)
{
    // The extension belongs to the file name: a "." in a folder name starts none.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > slash;
    const QStringView stem = hasExtension ? QStringView(path).left(dot) : QStringView(path);
    for (const QString &term : nameTerms) {
        if (stem.contains(term))
            return true;
    }
    if (hasExtension) {
        const QStringView extension = QStringView(path).mid(dot + 1);
        for (const QString &term : extensionTerms) {
            if (extension.contains(term))
                return true;
        }
    }
    return false;
}

QStringList filterEntries(const QStringList &entries, const QStringList &nameTerms, const QStringList &extensionTerms,
                          bool keepMatching)
{
    QStringList kept;
    kept.reserve(entries.size());
    for (const QString &entry : entries) {
        if (matchesFilter(entry, nameTerms, extensionTerms) == keepMatching)
            kept << entry;
    }
    return kept;
}

QStringList readFilterHistory(const QString &file)
{
    QStringList lines;
    if (loadFileList(file, &lines) != LoadStatus::Ok)
        return {};
    return lines;
}

bool recordFilterHistory(const QString &file, const QString &text)
{
    // A line break would split the entry; the combo boxes take one line.
    const QString entry = QString(text).replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (entry.isEmpty() || readFilterHistory(file).contains(entry))
        return true;
    QFile out(file);
    if (!out.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    QByteArray line;
    // A last line without its line break gets one before the new entry.
    if (out.size() > 0) {
        out.seek(out.size() - 1);
        if (out.read(1) != "\n")
            line = "\r\n";
    }
    line += entry.toUtf8() + "\r\n";
    return out.write(line) == line.size();
}

QueueFilter::QueueFilter(QString myPath) : m_myPath(std::move(myPath)) {}

QString QueueFilter::backupPath() const
{
    return m_myPath + QLatin1String(kFilterBackupFile);
}

QueueFilter::ApplyResult QueueFilter::apply(QStringList *queue, const QString &nameText, const QString &extensionText,
                                            bool keepMatching)
{
    if (!QFile::exists(backupPath())) {
        // Without its backup a filtered queue could never be given back.
        if (!saveFileList(backupPath(), *queue))
            return ApplyResult::BackupFailed;
        m_extracted.clear();
    }
    *queue = filterEntries(*queue, filterTerms(nameText), filterTerms(extensionText), keepMatching);
    recordFilterHistory(m_myPath + QLatin1String(kFilterNameHistoryFile), nameText);
    recordFilterHistory(m_myPath + QLatin1String(kFilterExtensionHistoryFile), extensionText);
    m_active = true;
    return ApplyResult::Applied;
}

QueueFilter::ReleaseResult QueueFilter::release(QStringList *queue)
{
    QStringList saved;
    const bool readable = QFile::exists(backupPath()) && loadFileList(backupPath(), &saved) == LoadStatus::Ok;
    m_active = false;
    if (!readable) {
        m_extracted.clear();
        return ReleaseResult::BackupMissing;
    }
    QHash<QString, int> extracted;
    for (const QString &path : std::as_const(m_extracted))
        ++extracted[path];
    m_extracted.clear();

    const QSet<QString> savedSet(saved.cbegin(), saved.cend());
    QStringList restored;
    restored.reserve(saved.size() + queue->size());
    for (const QString &path : std::as_const(saved)) {
        auto it = extracted.find(path);
        if (it != extracted.end() && it.value() > 0) {
            --it.value();
            continue;
        }
        restored << path;
    }
    for (const QString &path : std::as_const(*queue)) {
        if (!savedSet.contains(path))
            restored << path;
    }
    *queue = restored;
    discardFilterBackup(m_myPath);
    return ReleaseResult::Restored;
}

void QueueFilter::noteExtracted(const QStringList &paths)
{
    if (m_active)
        m_extracted += paths;
}

} // namespace salvo
