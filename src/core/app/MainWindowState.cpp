#include "MainWindowState.h"

#include <QStringList>

namespace salvo {

QString startupWorkingMode(const QString &storedMode, bool queueEmpty, bool firstIsArchive)
{
    if (!queueEmpty && firstIsArchive)
        return QStringLiteral("Extract");
    if (storedMode.isEmpty())
        return QStringLiteral("Extract");
    return storedMode;
}

std::optional<int> savablePosition(int twips)
{
    if (twips < -32768 || twips > 32767)
        return std::nullopt;
    return twips;
}

int comboIndexForText(const QStringList &entries, const QString &stored)
{
    if (stored.isEmpty())
        return 0;
    const qsizetype i = entries.indexOf(stored);
    return i < 0 ? 0 : static_cast<int>(i);
}

} // namespace salvo
