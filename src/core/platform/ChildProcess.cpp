#include "ChildProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

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

void waitForChild(QProcess &process, const std::function<bool()> &cancelled)
{
    const bool onEventLoopThread = QCoreApplication::instance()
        && QThread::currentThread() == QCoreApplication::instance()->thread();
    while (!process.waitForFinished(100)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (cancelled && cancelled()) {
            killProcessGroup(process);
            process.kill();
            process.waitForFinished(1000);
            break;
        }
        if (onEventLoopThread)
            QCoreApplication::processEvents();
    }
}

bool runCaptured(const QString &program, const QStringList &arguments, const QString &outputFile,
                 const std::atomic<bool> *cancel)
{
    QProcess process;
    process.setStandardOutputFile(outputFile, QIODevice::Truncate);
    process.setStandardErrorFile(QProcess::nullDevice());
    runInOwnProcessGroup(process);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return false;
    waitForChild(process, [cancel] { return cancel && *cancel; });
    return true;
}

} // namespace salvo
