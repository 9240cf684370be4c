#pragma once
// How the program was started, decided once from its command line.
#include "settings/Modes.h"

#include <QString>
#include <QStringList>

namespace salvo {

inline constexpr auto kDdModeSwitch = "/DDMODE";

struct LaunchRequest {
    LaunchMode mode = LaunchMode::Normal;
    QStringList files; // the file arguments, each one path as it was given
};

// The arguments after the program name, each taken whole (a name may hold
// blanks and quotes). "/DDMODE" (exact, case-sensitive) as the only argument
// asks for the settings dialog; followed by files it is a DD-mode run. Anything
// else is a list of files for a normal start. Empty arguments are left out.
LaunchRequest classifyArguments(const QStringList &arguments);

} // namespace salvo
