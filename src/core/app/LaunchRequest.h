#pragma once
// How the program was started, decided once from its command line.
#include "settings/Modes.h"

#include <QString>
#include <QStringList>

namespace salvo {

struct LaunchRequest {
    LaunchMode mode = LaunchMode::Normal;
    QString fileList; // added to the queue as it stands
};

// The command line after the program name as one text: the arguments joined by
// blanks, those holding a blank wrapped in double quotes, trimmed at both ends.
QString joinCommandLine(const QStringList &arguments);

// "/DDMODE" (exact, case-sensitive) alone asks for the settings dialog; followed
// by more text it is a DD-mode run, or a normal start when another instance is
// already running (that instance gets the files). Anything else is a file list.
LaunchRequest classifyCommandLine(const QString &commandLine, bool otherInstanceRunning);

} // namespace salvo
