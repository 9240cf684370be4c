#pragma once
// "Salvo.ini" in the program folder, read and written through the schema keys.
// Nothing is cached: every read goes to the file. The typed readers and writers
// below are the one place where stored numbers and texts become the enums of
// Modes.h and back.
#include "Modes.h"
#include "ProfileFile.h"
#include "SettingsSchema.h"

namespace salvo {

class Settings {
public:
    explicit Settings(const QString &myPath)
        : m_file(myPath + QLatin1String(ini::kSettingsFile)) {}
    explicit Settings(ProfileFile file) : m_file(std::move(file)) {}

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

    // "SlvoStartUpMode".
    WorkingMode startUpMode() const;
    bool setStartUpMode(WorkingMode mode) const;
    // "FileNameFolder" of the launch mode's group; the setter writes the normal group.
    FolderNameMode folderNameMode(LaunchMode mode) const;
    bool setFolderNameMode(FolderNameMode mode) const;
    // "OverWrite" of the launch mode's group, and of the content viewer.
    OverwritePolicy overwritePolicy(LaunchMode mode) const;
    OverwritePolicy viewerOverwritePolicy() const;
    // The target drop-down's stored entry ("TargetPlace" of "EXTRACT_NORMAL").
    TargetPlace storedTargetPlace() const;
    bool setStoredTargetPlace(TargetPlace place) const;
    // Where a DD-mode run goes ("ExtractMode"; any other number: the desktop).
    TargetPlace ddTargetPlace() const;
    // The fixed folder of TargetPlace::UsualFolder: "AlwaysPath", or "TargetPath"
    // of "DDMODE" for a DD-mode run; cut at the first NUL.
    QString usualFolder(LaunchMode mode) const;
    // "Action" and "TargetPlace" of "EXTRACT_ARCVIEW".
    DoubleClickAction doubleClickAction() const;
    ViewerTargetPlace viewerTargetPlace() const;

private:
    ProfileFile m_file;
};

} // namespace salvo
