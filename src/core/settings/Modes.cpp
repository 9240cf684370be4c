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

QString workingModeText(WorkingMode mode)
{
    switch (mode) {
    case WorkingMode::Extract:
        return QStringLiteral("Extract");
    case WorkingMode::Archive:
        return QStringLiteral("Archive");
    case WorkingMode::Unset:
        break;
    }
    return {};
}

WorkingMode workingModeFromText(const QString &text)
{
    if (text == QLatin1String("Extract"))
        return WorkingMode::Extract;
    if (text == QLatin1String("Archive"))
        return WorkingMode::Archive;
    return WorkingMode::Unset;
}

const QStringList &targetPlaceTexts()
{
    static const QStringList texts{QStringLiteral("書庫のある場所"), QStringLiteral("自分で決定"),
                                   QStringLiteral("いつものところ"), QStringLiteral("デスクトップ"),
                                   QStringLiteral("Program\u3000Files")};
    return texts;
}

QString targetPlaceText(TargetPlace place)
{
    return targetPlaceTexts().value(static_cast<int>(place));
}

TargetPlace targetPlaceFromText(const QString &text)
{
    const qsizetype i = text.isEmpty() ? -1 : targetPlaceTexts().indexOf(text);
    return i < 0 ? TargetPlace::BesideArchive : static_cast<TargetPlace>(i);
}

} // namespace salvo
