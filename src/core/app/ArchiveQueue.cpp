#include "ArchiveQueue.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace salvo {

QStringList splitFileList(const QString &fileList)
{
    // Walks the text with an index instead of cutting off what was consumed, so
    // a command line of many thousand paths is split in one pass.
    QStringList paths;
    const qsizetype n = fileList.size();
    qsizetype pos = 0;
    while (n - pos >= 3) {
        QString path;
        bool last = false;
        if (fileList.at(pos) == QLatin1Char('"')) {
            const qsizetype close = fileList.indexOf(QLatin1Char('"'), pos + 1);
            if (close < 0) {
                path = fileList.mid(pos + 1); // no closing quote: the rest is the path
                last = true;
            } else {
                path = fileList.mid(pos + 1, close - pos - 1);
                last = close == n - 1;
                pos = close + 2; // skip the quote and the blank behind it
            }
        } else {
            const qsizetype blank = fileList.indexOf(QLatin1Char(' '), pos);
            if (blank < 0) {
                path = fileList.mid(pos);
                last = true;
            } else {
                path = fileList.mid(pos, blank - pos);
                pos = blank + 1;
            }
        }
        path = path.trimmed();
        if (!path.isEmpty())
            paths << path;
        if (last)
            break;
    }
    return paths;
}

namespace {

void scanFolder(const QString &folder, QSet<QString> &visited, QStringList *found, AddResult &result)
{
    // A folder reached twice (a symbolic link back up the tree) is not scanned
    // again, so a link loop ends instead of recursing forever.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);

    const QDir dir(folder);
    if (!dir.isReadable()) {
        ++result.skipped;
        return;
    }
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        const QString full = folder + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            scanFolder(full, visited, found, result);
        } else if (entry.exists()) {
            found->append(full);
            ++result.added;
        } else {
            ++result.skipped; // a dangling link
        }
    }
}

} // namespace

AddResult collectPath(const QString &path, QStringList *found)
{
    AddResult result;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        ++result.skipped;
        return result;
    }
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    if (info.isDir()) {
        QSet<QString> visited;
        scanFolder(absolute, visited, found, result);
    } else {
        found->append(absolute);
        ++result.added;
    }
    return result;
}

bool isViewableArchive(const QString &path)
{
    static const QStringList kArchiveKeys{"lzh", "zip", "cab", "gca", "rar", "7z", "yz1", "yz2",
                                          "yz2a6", "arj", "tar", "gz", "z", "bz2", "tgz", "tbz", "tbz2",
                                          "taz", "xz", "txz", "zst", "tzst", "lz", "lzma", "bza", "gza",
                                          "bel", "imp", "kty", "ace", "rk", "bh", "hki", "exe"};
    return !path.isEmpty() && kArchiveKeys.contains(path.section(QLatin1Char('.'), -1).toLower());
}

AddResult ArchiveQueue::addArchiveList(const QString &fileList)
{
    AddResult total;
    QStringList found;
    for (const QString &path : splitFileList(fileList)) {
        const AddResult one = collectPath(path, &found);
        total.added += one.added;
        total.skipped += one.skipped;
    }
    append(found);
    return total;
}

AddResult ArchiveQueue::addPath(const QString &path)
{
    QStringList found;
    const AddResult result = collectPath(path, &found);
    append(found);
    return result;
}

void ArchiveQueue::clear()
{
    if (m_entries.isEmpty())
        return;
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

void ArchiveQueue::append(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    beginInsertRows({}, size(), size() + static_cast<int>(paths.size()) - 1);
    m_entries.append(paths);
    endInsertRows();
}

void ArchiveQueue::setEntries(const QStringList &paths)
{
    beginResetModel();
    m_entries = paths;
    endResetModel();
}

void ArchiveQueue::removeRowsAt(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= size(); }), rows.end());
    // From the last to the first, a run of neighbouring rows at a time, so that
    // earlier row numbers stay valid and a large selection goes quickly.
    qsizetype end = rows.size();
    while (end > 0) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1)
            --begin;
        beginRemoveRows({}, rows[begin], rows[end - 1]);
        m_entries.remove(rows[begin], rows[end - 1] - rows[begin] + 1);
        endRemoveRows();
        end = begin;
    }
}

int ArchiveQueue::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : size();
}

QVariant ArchiveQueue::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return m_entries.at(index.row());
    return {};
}

} // namespace salvo
