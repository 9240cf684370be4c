#include "DesktopOpener.h"

#include "salvo_version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QUrl>

namespace salvo {

void openOnDesktop(const QUrl &url, QObject *context, std::function<void()> failed)
{
    auto *opener = new QProcess; // owned by no window: it may outlive them all
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    QPointer<QObject> guard(context);
    auto fail = [guard, failed] {
        if (guard && failed)
            failed();
    };
    QObject::connect(opener, &QProcess::finished, opener, [opener, fail](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit || code != 0)
            fail();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return; // a crash or a failed read ends in finished()
        opener->deleteLater();
        fail();
    });
    opener->start();
}

QString installedManual()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {exeDir + QStringLiteral("/docs/manual/index.html"),
                                     exeDir + QStringLiteral("/../docs/manual/index.html"),
                                     QStringLiteral(SALVO_DOC_INSTALL_DIR "/manual/index.html")}) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

} // namespace salvo
