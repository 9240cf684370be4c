#pragma once
// The first steps of every start, before any window: where the program keeps
// its files, how it was started, and whether an instance is already running
// (it then takes the files, and this start ends).
#include "app/HandoffServer.h"
#include "app/LaunchRequest.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace salvo {

struct Launch {
    QString executableDir;
    QString myPath;
    LaunchRequest request;
    // This instance's end of the hand-off; none when another instance holds
    // it (that one refused the files, or could not be reached) or when the
    // user has no safe place for it.
    std::unique_ptr<HandoffServer> server;
    bool handedOff = false; // a running instance took the request: end at once, writing nothing
    QString notice;         // why this start runs without the hand-off, or handles files itself
};

struct LaunchTimeouts {
    HandoffTimeouts handoff;
    // How long a start waits for the holder of the instance lock to listen.
    int waitForListenerMs = 5000;
};

// `arguments`: the command line after the program name, each argument whole.
// Exactly one of several instances started at once becomes the running one;
// the others hand their files (made absolute here) to it. A running instance
// that refuses them (DD mode, settings only) leaves them to this one.
Launch prepareLaunch(const QStringList &arguments, const QString &executableDir, const LaunchTimeouts &timeouts = {});

} // namespace salvo
