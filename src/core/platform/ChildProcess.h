#pragma once
// Started programs: each leads a process group of its own, so that it and
// everything it starts in turn (a shell script's children would otherwise live
// on) can be ended together; a wait that can be cancelled; output captured into
// a file. Nothing goes through a shell.
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QProcess;

namespace salvo {

// Call before QProcess::start: the child leads a process group of its own.
void runInOwnProcessGroup(QProcess &process);
// Ends the whole group led by the process.
void killProcessGroup(const QProcess &process);

// Waits for a started child to end, looking every 100 ms whether `cancelled`
// answers true (then the child's whole group is ended). On the thread of the
// application's event loop the events are served between the looks, so the
// window stays alive while a program runs.
void waitForChild(QProcess &process, const std::function<bool()> &cancelled);

// Starts `program` with `arguments`, its standard output written to
// `outputFile` and its error output discarded, and waits for it; `cancel`
// (may be null) ends the wait. Returns whether the program started.
bool runCaptured(const QString &program, const QStringList &arguments, const QString &outputFile,
                 const std::atomic<bool> *cancel);

} // namespace salvo
