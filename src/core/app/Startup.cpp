#include "Startup.h"

#include "platform/LocalPath.h"
#include "platform/ProgramFolder.h"

#include <QElapsedTimer>
#include <QThread>

namespace salvo {

Launch prepareLaunch(const QStringList &arguments, const QString &executableDir, const LaunchTimeouts &timeouts)
{
    Launch launch;
    launch.executableDir = executableDir;
    launch.myPath = resolveMyPath(executableDir);
    launch.request = classifyArguments(arguments);

    QString problem;
    const HandoffPlace place = handoffPlace(&problem);
    if (!place.isValid()) {
        launch.notice = QStringLiteral("no hand-off between instances: ") + problem;
        return launch;
    }
    // The running instance's current folder is not ours.
    QStringList absolute;
    absolute.reserve(launch.request.files.size());
    for (const QString &file : launch.request.files)
        absolute << absoluteLocalPath(file);

    QElapsedTimer waited;
    waited.start();
    for (;;) {
        auto server = std::make_unique<HandoffServer>(place);
        switch (server->claim()) {
        case HandoffServer::Claim::Listening:
            launch.server = std::move(server);
            return launch;
        case HandoffServer::Claim::Failed:
            launch.notice = QStringLiteral("the hand-off socket could not be created in ") + place.folder;
            return launch;
        case HandoffServer::Claim::TakenByAnother:
            break;
        }
        switch (sendToRunningInstance(place, absolute, timeouts.handoff)) {
        case HandoffResult::Taken:
            launch.handedOff = true;
            return launch;
        case HandoffResult::Refused:
            launch.notice = QStringLiteral("the running instance takes no files now: they are handled here");
            return launch;
        case HandoffResult::Failed:
            launch.notice = QStringLiteral("the files could not be handed to the running instance: they are handled here");
            return launch;
        case HandoffResult::NoInstance:
            break; // the holder of the lock is still starting, or just ending
        }
        if (waited.elapsed() > timeouts.waitForListenerMs) {
            launch.notice = QStringLiteral("the running instance does not answer: the files are handled here");
            return launch;
        }
        QThread::msleep(50);
    }
}

} // namespace salvo
