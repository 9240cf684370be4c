#include "ArchiveFolderTree.h"

#include <QFileInfo>

namespace salvo {

ArchiveFolderTree::ArchiveFolderTree()
{
    m_nodes.push_back(Node{kRootName, QString(), -1, {}});
    m_byPath.insert(QString(), kRoot);
}

int ArchiveFolderTree::child(int parent, const QString &name)
{
    const QString parentPath = m_nodes[static_cast<size_t>(parent)].path;
    const QString path = parentPath.isEmpty() ? name : parentPath + QLatin1Char('/') + name;
    const auto found = m_byPath.constFind(path);
    if (found != m_byPath.constEnd())
        return found.value();
    const int index = size();
    m_nodes.push_back(Node{name, path, parent, {}});
    m_nodes[static_cast<size_t>(parent)].children.push_back(index);
    m_byPath.insert(path, index);
    return index;
}

void ArchiveFolderTree::addEntryName(const QString &rawName)
{
    QString name = rawName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.startsWith(QLatin1Char('/')) || (name.size() >= 2 && name.at(1) == QLatin1Char(':')))
        return;
    QStringList parts = name.split(QLatin1Char('/'));
    parts.removeLast(); // the file's own name (empty for a folder entry "a/")
    QStringList levels;
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return;
        if (!part.isEmpty() && part != QLatin1String("."))
            levels << part;
    }
    int at = kRoot;
    for (const QString &level : levels)
        at = child(at, level);
}

int ArchiveFolderTree::addFolderPath(int parent, const QString &folderPath)
{
    int at = parent;
    for (const QString &level : folderPath.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        at = child(at, level);
    return at;
}

QString ArchiveFolderTree::fullPath(int index) const
{
    const QString &path = node(index).path;
    return path.isEmpty() ? kRootName : kRootName + QLatin1Char('/') + path;
}

ArchiveFolderTree folderTreeFor(const QString &archive, const QStringList &entryNames)
{
    ArchiveFolderTree tree;
    static const QStringList kListed{"lzh", "zip", "7z", "bza", "gza", "hki"};
    if (!kListed.contains(QFileInfo(archive).suffix().toLower()))
        return tree;
    for (const QString &name : entryNames)
        tree.addEntryName(name);
    return tree;
}

QString targetFolderOf(const QString &fullPath)
{
    if (fullPath.size() <= ArchiveFolderTree::kRootName.size() + 1)
        return {};
    return fullPath.mid(ArchiveFolderTree::kRootName.size() + 1);
}

QString folderNameProblem(const QString &name)
{
    static const QString kForbidden = QStringLiteral("\\/:,;*?\"<>|");
    for (const QChar c : name) {
        if (kForbidden.contains(c))
            return QStringLiteral("ファイル名に次の文字は使えません。\n\\ / : , * ? \" < > |");
    }
    // "." and ".." name no new folder, and a control character no readable one.
    bool control = false;
    for (const QChar c : name)
        control = control || c.unicode() < 0x20 || c.unicode() == 0x7f;
    if (name == QLatin1String(".") || name == QLatin1String("..") || control || name.trimmed().isEmpty())
        return QStringLiteral("このフォルダ名は使えません。");
    return {};
}

} // namespace salvo
