#pragma once
// The few per-user values the program keeps outside its own folder (the zip
// component's "ShowResult" switch), in a small INI file under the XDG config
// folder: ${XDG_CONFIG_HOME:-~/.config}/SalvoExtractor/user-store.ini.
#include <QString>
#include <optional>

namespace salvo {

class UserStore {
public:
    UserStore();                           // the per-user file
    explicit UserStore(QString filePath);  // another file (tests)

    std::optional<qint32> readInt32(const QString &key, const QString &name) const;
    bool writeInt32(const QString &key, const QString &name, qint32 value) const;
    const QString &path() const { return m_path; }

private:
    QString m_path;
};

// Key of the zip component's own settings.
inline constexpr auto kUnzip32SettingsKey = "Software/ArchiverDll/UNZIP32/Settings";

} // namespace salvo
