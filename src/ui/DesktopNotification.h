#pragma once
// A notice through the desktop's notification service (freedesktop
// notifications on the session bus), for the runs that show no window.
#include <QString>

namespace salvo {

// Sends the notice and waits at most a moment for the service to take it;
// false when there is no session bus or no notification service.
bool notifyDesktop(const QString &summary, const QString &body, bool failures);

// The notice of a run's end: how many archives were extracted, how many were
// not, and whether the run was stopped.
QString runEndSummary(int failed, bool stopped);
QString runEndBody(int extracted, int failed, bool stopped);

} // namespace salvo
