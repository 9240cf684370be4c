#pragma once
// A component's command line puts every path in double quotes and has no
// escape, so a path that holds a double quote cannot travel on it. Such an
// archive is handed over through symbolic links with plain names instead, made
// in a private folder of its own inside the work folder ("tmp", owner only):
// one link per volume, named as the volume with every double quote replaced
// by U+FF02 (so the volume numbering the component reads is kept), and, when
// the output folder's path holds a quote, one link "out" to that folder
// (handed over as "out/.", the folder itself rather than the link). The
// links are removed again when this object goes. Nothing is deleted through
// them: the run deletes an archive by its real path, after checking it.
#include <QString>
#include <QStringList>

namespace salvo {

class PlainNameLinks {
public:
    PlainNameLinks() = default;
    ~PlainNameLinks();
    PlainNameLinks(const PlainNameLinks &) = delete;
    PlainNameLinks &operator=(const PlainNameLinks &) = delete;

    // Whether a path cannot go on a component's command line as it is.
    static bool needed(const QString &path);

    // Makes the links for `volumes` (the archive's volumes, the first one
    // first) and for `outputDir` (which must exist) in a new private folder in
    // `workFolder`. False, with the reason, when they cannot be made safely.
    bool make(const QString &workFolder, const QStringList &volumes, const QString &outputDir, QString *error);

    // The paths to put on the command line.
    QString archive() const { return m_archive; }
    QString outputDir() const { return m_outputDir; }
    // A path the component names (in a question) as the user knows it.
    QString realPath(const QString &shown) const;

private:
    QString m_folder;
    QString m_archive, m_realArchive, m_outputDir, m_realOutputDir;
    QStringList m_links;
};

} // namespace salvo
