#include "PlainNameLinks.h"

#include "platform/LocalPath.h"
#include "platform/UserIdentity.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace salvo {
namespace {

// A name the command line carries: every double quote becomes U+FF02, which
// looks alike and is no quote to the splitting rule.
QString plainName(const QString &name)
{
    QString plain = name;
    plain.replace(QLatin1Char('"'), QChar(0xFF02));
    return plain;
}

} // namespace

bool PlainNameLinks::needed(const QString &path)
{
    return path.contains(QLatin1Char('"'));
}

bool PlainNameLinks::make(const QString &workFolder, const QStringList &volumes, const QString &outputDir,
                          QString *error)
{
    *error = QStringLiteral("名前に「\"」を含む書庫のための作業フォルダを作れません: ") + workFolder;
    QString problem;
    if (volumes.isEmpty() || !ensurePrivateFolder(workFolder, currentUid(), &problem))
        return false;
    // A folder of its own for each archive: nobody else can put anything in it
    // (mkdtemp makes it 0700 with a name nobody can guess).
    QByteArray templ = localBytesOfPath(workFolder + QStringLiteral("/plain-XXXXXX"));
    if (!::mkdtemp(templ.data()))
        return false;
    m_folder = pathFromLocalBytes(templ);
    // The volumes in a folder of their own, whatever their names; the output
    // folder's link beside it.
    if (!makeLocalFolder(m_folder + QStringLiteral("/in")))
        return false;
    auto link = [this](const QString &target, const QString &name) {
        const QString at = m_folder + QLatin1Char('/') + name;
        if (::symlink(localBytesOfPath(target).constData(), localBytesOfPath(at).constData()) != 0)
            return QString();
        m_links << at;
        return at;
    };
    *error = QStringLiteral("名前に「\"」を含む書庫のリンクを作れません: ") + volumes.first();
    for (const QString &volume : volumes) {
        const QFileInfo info(volume);
        const QString at = link(absoluteLocalPath(volume), QStringLiteral("in/") + plainName(info.fileName()));
        if (at.isEmpty())
            return false;
        if (m_archive.isEmpty()) {
            m_archive = at;
            m_realArchive = volume;
        }
    }
    m_realOutputDir = outputDir;
    m_outputDir = outputDir;
    if (needed(outputDir)) {
        m_outputDir = link(absoluteLocalPath(outputDir), QStringLiteral("out"));
        if (m_outputDir.isEmpty())
            return false;
        // The component never takes a link for its output folder itself (a
        // link there may have been planted); "." after this private one is
        // the folder it leads to.
        m_outputDir += QStringLiteral("/.");
    }
    error->clear();
    return true;
}

QString PlainNameLinks::realPath(const QString &shown) const
{
    if (m_folder.isEmpty())
        return shown;
    if (shown == m_archive)
        return m_realArchive;
    if (m_outputDir != m_realOutputDir && shown.startsWith(m_outputDir + QLatin1Char('/')))
        return m_realOutputDir + shown.mid(m_outputDir.size());
    return shown;
}

PlainNameLinks::~PlainNameLinks()
{
    // Only the links and the folder made for them: never what they lead to.
    for (const QString &at : std::as_const(m_links))
        ::unlink(localBytesOfPath(at).constData());
    if (!m_folder.isEmpty()) {
        ::rmdir(localBytesOfPath(m_folder + QStringLiteral("/in")).constData());
        ::rmdir(localBytesOfPath(m_folder).constData());
    }
}

} // namespace salvo
