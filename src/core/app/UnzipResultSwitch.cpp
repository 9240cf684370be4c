#include "UnzipResultSwitch.h"

namespace salvo {
namespace {

const QString kShowResult = QStringLiteral("ShowResult");

} // namespace

void UnzipResultSwitch::silence(const Availability &availability, const UserStore &store)
{
    if (!availability.has(Component::UnZip32))
        return;
    const qint32 showResult = store.readInt32(QLatin1String(kUnzip32SettingsKey), kShowResult).value_or(-1);
    if (showResult != 0) {
        m_saved = showResult;
        store.writeInt32(QLatin1String(kUnzip32SettingsKey), kShowResult, 0);
    }
}

void UnzipResultSwitch::restore(const UserStore &store) const
{
    if (m_saved && *m_saved != 0 && *m_saved != -1)
        store.writeInt32(QLatin1String(kUnzip32SettingsKey), kShowResult, *m_saved);
}

} // namespace salvo
