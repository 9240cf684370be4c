#pragma once
// "Salvo.ini" in the program folder, read and written through the schema keys.
#include "ProfileFile.h"
#include "SettingsSchema.h"

namespace salvo {

class Settings {
public:
    explicit Settings(const QString &myPath)
        : m_file(myPath + QLatin1String(ini::kSettingsFile)) {}

    int read(const ini::IntKey &key) const
    {
        return m_file.readInt(QLatin1String(key.section), QLatin1String(key.name),
                              static_cast<qint16>(key.absent));
    }
    QString read(const ini::TextKey &key) const
    {
        return m_file.readText(QLatin1String(key.section), QLatin1String(key.name),
                               QString::fromUtf8(key.absent));
    }
    bool write(const ini::IntKey &key, int value) const
    {
        return m_file.writeInt(QLatin1String(key.section), QLatin1String(key.name), value);
    }
    bool write(const ini::TextKey &key, const QString &value) const
    {
        return m_file.writeText(QLatin1String(key.section), QLatin1String(key.name), value);
    }
    const ProfileFile &file() const { return m_file; }

private:
    ProfileFile m_file;
};

} // namespace salvo
