#pragma once
// The modes and policies that the settings file stores as numbers or texts.
// Everywhere else they travel as these enums; the conversions from and to the
// stored values live in the settings layer only.
#include <QString>

namespace salvo {

// How the program was started: it selects the "NORMAL" or "DDMODE" group of
// settings for the run.
enum class LaunchMode { Normal, DdMode, DdModeSetting };

// "NORMAL", "DDMODE", "DDMODE_SETTING".
QString launchModeName(LaunchMode mode);

} // namespace salvo
