#include "Startup.h"

#include "app/HandoffProtocol.h"
#include "app/HandoffServer.h"
#include "platform/ProgramFolder.h"
#include "platform/UserIdentity.h"

namespace salvo {

Launch prepareLaunch(const QStringList &arguments, const QString &executableDir)
{
    Launch launch;
    launch.executableDir = executableDir;
    launch.socketPath = handoffSocketPath(QLatin1String(kHandoffName));
    launch.myPath = resolveMyPath(executableDir);
    const bool otherRunning = instanceIsRunning(launch.socketPath);
    launch.request = classifyCommandLine(joinCommandLine(arguments), otherRunning);
    if (otherRunning) {
        // The running instance takes the files (or only comes to the front).
        sendToRunningInstance(launch.socketPath, launch.request.fileList);
        launch.handedOff = true;
    }
    return launch;
}

} // namespace salvo
