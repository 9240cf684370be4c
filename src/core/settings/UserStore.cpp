#include "UserStore.h"

#include "platform/ProgramFolder.h"
#include "ProfileFile.h"

#include <QDir>
#include <QFileInfo>

namespace salvo {

UserStore::UserStore()
    : m_path(xdgConfigHome() + QStringLiteral("/SalvoExtractor/user-store.ini"))
{
}

UserStore::UserStore(QString filePath) : m_path(std::move(filePath)) {}

std::optional<qint32> UserStore::readInt32(const QString &key, const QString &name) const
{
    const ProfileFile file(m_path);
    const QString text = file.readText(key, name, QStringLiteral("\x01"));
    if (text == QStringLiteral("\x01"))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<qint32>(value);
}

bool UserStore::writeInt32(const QString &key, const QString &name, qint32 value) const
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    return ProfileFile(m_path).writeText(key, name, QString::number(value));
}

} // namespace salvo
