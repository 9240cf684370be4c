#pragma once
// A started program and everything it starts in turn, as one group that can be
// ended together (a shell script's children would otherwise live on).
class QProcess;

namespace salvo {

// Call before QProcess::start: the child leads a process group of its own.
void runInOwnProcessGroup(QProcess &process);
// Ends the whole group led by the process.
void killProcessGroup(const QProcess &process);

} // namespace salvo
