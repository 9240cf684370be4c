#pragma once
// The folders inside an archive, as the dialog that adds dropped files shows
// them: a root "<ROOT>" and one node per folder level found in the entries'
// names ("/" and "\" both separate levels; the last part of a name is a file
// and adds no node). New folders can be added under any node before anything
// is written.
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace salvo {

class ArchiveFolderTree {
public:
    struct Node {
        QString name;   // "<ROOT>" for the root
        QString path;   // folder inside the archive, "/" between levels; "" for the root
        int parent = -1;
        std::vector<int> children;
    };

    static constexpr int kRoot = 0;
    static inline const QString kRootName = QStringLiteral("<ROOT>");

    ArchiveFolderTree();

    // Adds the folder levels of one entry name. A name with an absolute path, a
    // drive or a ".." level adds nothing: no folder outside the archive's top
    // can be chosen. Empty and "." levels are skipped.
    void addEntryName(const QString &name);
    // Adds the folder levels of a folder path under `parent` (every level of
    // `folderPath` is a folder); returns the node of the last level.
    int addFolderPath(int parent, const QString &folderPath);

    int size() const { return static_cast<int>(m_nodes.size()); }
    const Node &node(int index) const { return m_nodes[static_cast<size_t>(index)]; }
    // The node of a folder path, or -1.
    int find(const QString &path) const { return m_byPath.value(path, -1); }
    // "<ROOT>" or "<ROOT>/a/b": the node's full path as the dialog keeps it.
    QString fullPath(int index) const;

private:
    int child(int parent, const QString &name);

    std::vector<Node> m_nodes;
    QHash<QString, int> m_byPath;
};

// The tree of an archive's folders from its entry names. Only the formats the
// dialog can list give folders (lzh, zip, 7z, bza, gza, hki); any other shows
// the root alone.
ArchiveFolderTree folderTreeFor(const QString &archive, const QStringList &entryNames);

// The folder inside the archive that a full path selects: "" for "<ROOT>",
// else the path without "<ROOT>" and its separator.
QString targetFolderOf(const QString &fullPath);

// Why a new folder name cannot be used; empty when it can.
QString folderNameProblem(const QString &name);

} // namespace salvo
