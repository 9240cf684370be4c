#include "Modes.h"

namespace salvo {

QString launchModeName(LaunchMode mode)
{
    switch (mode) {
    case LaunchMode::DdMode:
        return QStringLiteral("DDMODE");
    case LaunchMode::DdModeSetting:
        return QStringLiteral("DDMODE_SETTING");
    case LaunchMode::Normal:
        break;
    }
    return QStringLiteral("NORMAL");
}

} // namespace salvo
