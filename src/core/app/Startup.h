#pragma once
// The first steps of every start, before any window: where the program keeps
// its files, how it was started, and whether an instance is already running
// (it then takes the files, and this start ends).
#include "app/LaunchRequest.h"

#include <QString>
#include <QStringList>

namespace salvo {

struct Launch {
    QString executableDir;
    QString myPath;
    QString socketPath; // of the hand-off between instances
    LaunchRequest request;
    bool handedOff = false; // a running instance took the request: end at once, writing nothing
};

// `arguments`: the command line after the program name.
Launch prepareLaunch(const QStringList &arguments, const QString &executableDir);

} // namespace salvo
