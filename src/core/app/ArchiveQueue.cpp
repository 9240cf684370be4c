#include "ArchiveQueue.h"

#include "engine/RunLog.h"
#include "platform/LocalPath.h"
#include "platform/RegularFile.h"
#include "SplitVolumes.h"

#include <map>
#include <set>

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
    const QString canonical = canonicalLocalPath(folder);
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);

    QList<LocalFolderEntry> entries;
    if (!listLocalFolder(folder, &entries)) {
        ++result.skipped;
        result.skippedPaths << folder;
        return;
    }
    for (const LocalFolderEntry &entry : std::as_const(entries)) {
        const QString full = folder + QLatin1Char('/') + entry.name;
        switch (queueIntakeKind(entry.kind)) {
        case QueueIntake::File:
            found->append(full);
            ++result.added;
            break;
        case QueueIntake::Folder:
            scanFolder(full, visited, found, result);
            break;
        case QueueIntake::Missing:
            ++result.skipped; // a dangling link, or gone meanwhile
            result.skippedPaths << full;
            break;
        case QueueIntake::NotAFile:
            ++result.notFiles;
            result.notFilePaths << full;
            break;
        }
    }
}

} // namespace

QueueIntake queueIntakeKind(const QString &path)
{
    return queueIntakeKind(localFileKind(path));
}

QueueIntake queueIntakeKind(LocalFileKind kind)
{
    switch (kind) {
    case LocalFileKind::Regular:
        return QueueIntake::File;
    case LocalFileKind::Directory:
        return QueueIntake::Folder;
    case LocalFileKind::Other:
        return QueueIntake::NotAFile;
    case LocalFileKind::Missing:
        break;
    }
    return QueueIntake::Missing;
}

namespace {

AddResult collectInto(const QString &path, QSet<QString> &visited, QStringList *found)
{
    AddResult result;
    const QString absolute = path.isEmpty() ? QString() : absoluteLocalPath(path);
    switch (queueIntakeKind(absolute)) {
    case QueueIntake::File:
        found->append(absolute);
        ++result.added;
        break;
    case QueueIntake::Folder:
        scanFolder(absolute, visited, found, result);
        break;
    case QueueIntake::Missing:
        ++result.skipped;
        result.skippedPaths << (absolute.isEmpty() ? path : absolute);
        break;
    case QueueIntake::NotAFile:
        ++result.notFiles;
        result.notFilePaths << absolute;
        break;
    }
    return result;
}

} // namespace

AddResult collectPath(const QString &path, QStringList *found)
{
    QSet<QString> visited;
    return collectInto(path, visited, found);
}

AddResult collectPaths(const QStringList &paths, QStringList *found)
{
    AddResult total;
    QStringList all;
    QSet<QString> visited; // a folder named twice is scanned once
    for (const QString &path : paths)
        total += collectInto(path, visited, &all);
    // Relative and absolute names, "./x", "sub/../x", a link and the file it
    // leads to: one file, queued once. (Separate adds of the same file still
    // queue it again, as the user asked twice.)
    std::set<std::pair<quint64, quint64>> seen;
    for (const QString &path : std::as_const(all)) {
        const std::optional<FileIdentity> id = regularFileIdentity(path);
        if (id && !seen.insert({id->device, id->inode}).second) {
            --total.added;
            continue;
        }
        found->append(path);
    }
    return total;
}

void logLeftOut(const QString &myPath, const AddResult &result)
{
    QStringList lines;
    for (const QString &path : result.skippedPaths)
        lines << path + QStringLiteral(" : 見つからないため登録しませんでした");
    for (const QString &path : result.notFilePaths)
        lines << path + QStringLiteral(" : 通常のファイルでないため登録しませんでした");
    if (!lines.isEmpty())
        RunLog::append(myPath, lines);
}

bool isViewableArchive(const QString &path)
{
    static const QStringList kArchiveKeys{"lzh", "zip", "cab", "gca", "rar", "7z", "yz1", "yz2",
                                          "yz2a6", "arj", "tar", "gz", "z", "bz2", "tgz", "tbz", "tbz2",
                                          "taz", "xz", "txz", "zst", "tzst", "lz", "lzma", "bza", "gza",
                                          "bel", "imp", "kty", "ace", "rk", "bh", "hki", "exe",
                                          "lz4", "tlz4", "lzo", "tzo", "cpio", "iso", "ar", "deb",
                                          "udeb", "rpm", "xar"};
    return !path.isEmpty() && kArchiveKeys.contains(path.section(QLatin1Char('.'), -1).toLower());
}

AddResult ArchiveQueue::addArchiveList(const QString &fileList)
{
    return addPaths(splitFileList(fileList));
}

AddResult ArchiveQueue::addPaths(const QStringList &paths)
{
    QStringList found;
    const AddResult total = collectPaths(paths, &found);
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

void ArchiveQueue::append(const QStringList &given)
{
    // Any volume of a split archive stands for its set, which is queued once,
    // by its first volume. The volumes of a set met once are not looked at
    // again: dropping a set of a thousand volumes reads its structure once.
    QStringList paths;
    std::map<std::string, std::string> setOf;
    for (const QString &path : given) {
        const std::string bytes = localBytesOfPath(path).toStdString();
        if (volumeNameOf(bytes).scheme == VolumeScheme::None) {
            paths << path;
            continue;
        }
        auto known = setOf.find(bytes);
        if (known == setOf.end()) {
            const VolumeSet volumes = volumeSetContaining(bytes);
            for (const std::string &volume : volumes.paths)
                setOf.emplace(volume, volumes.name);
            known = setOf.emplace(bytes, volumes.name).first;
        }
        const QString set = pathFromLocalBytes(QByteArray::fromStdString(known->second));
        if (!m_entries.contains(set) && !paths.contains(set))
            paths << set;
    }
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
    if (rows.isEmpty())
        return;
    qsizetype runs = 1;
    for (qsizetype i = 1; i < rows.size(); ++i)
        runs += rows[i] != rows[i - 1] + 1;
    if (runs > kMaxRemovalNotices) {
        // Many scattered rows: one pass over the list and one reset, instead of a
        // move of the list's tail and a notice to the view for every run.
        QStringList kept;
        kept.reserve(m_entries.size() - rows.size());
        qsizetype next = 0;
        for (qsizetype i = 0; i < m_entries.size(); ++i) {
            if (next < rows.size() && rows[next] == i)
                ++next;
            else
                kept.append(m_entries.at(i));
        }
        setEntries(kept);
        return;
    }
    // From the last to the first, a run of neighbouring rows at a time, so that
    // earlier row numbers stay valid; the view keeps its selection and position.
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
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return displayPath(m_entries.at(index.row())); // a name that is not UTF-8 is shown as CP932
    if (role == Qt::EditRole)
        return m_entries.at(index.row());
    return {};
}

} // namespace salvo
