#include "ProcessGroup.h"

#include <QProcess>

#include <csignal>
#include <unistd.h>

namespace salvo {

void runInOwnProcessGroup(QProcess &process)
{
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void killProcessGroup(const QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
}

} // namespace salvo
