#pragma once
// Which archiver components and console programs this machine has, settled once
// at start-up and recorded in "DllStatus.ini" in the program folder.
#include <QDate>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace salvo {

// One row per component, in the order they are checked.
enum class Component {
    Basp21, UnLha32, UnZip32, Zip32J, Zip32, Cab32, UnGca32, UnRar32, SevenZip32, Yz1, UnArj32,
    Tar32, Bga32, UnBel32, UnImp32, Kty32, UnAceV2, UnAce32, Yz2Dec, Yz2Enc, RkExe, Paqar32,
    UnHki32,
    Count
};
inline constexpr int kComponentCount = static_cast<int>(Component::Count);

enum class SearchKind {
    BuiltIn,          // part of the program itself (the mailer)
    Library,          // a component: program folder, installed folder, SALVO_COMPONENT_PATH
    Program,          // a console program: program folder, then PATH
    ProgramFolderOnly // a console program looked for in the program folder only
};

struct ComponentInfo {
    Component id;
    const char *flagName;   // IsUnLha32 ...
    const char *windowsName; // the name the component has on Windows (About box)
    const char *fileName;   // the file searched for here
    const char *recordKey;  // key in [DLLSTATUS]
    const char *pathKey;    // key of the found folder, for console programs; else nullptr
    SearchKind kind;
};

const std::array<ComponentInfo, kComponentCount> &componentTable();
const ComponentInfo &componentInfo(Component c);

struct Availability {
    std::array<bool, kComponentCount> present{};
    // Folders (ending in "/") where the console programs were found.
    QString yz2DecPath, yz2EncPath, rkExePath;
    // Where each present component file was found (empty for built-in ones).
    std::array<QString, kComponentCount> files;

    bool has(Component c) const { return present[static_cast<int>(c)]; }
};

// Looks a component file up by the search rule of its kind.
class ComponentLocator {
public:
    ComponentLocator(QString myPath, QStringList libraryFolders, QStringList programFolders);
    // Full path of the file, or empty when it is not found.
    QString find(const ComponentInfo &info) const;
    // Standard locator for this process.
    static ComponentLocator forProgram(const QString &myPath, const QString &executableDir);

private:
    QString m_myPath;
    QStringList m_libraryFolders;
    QStringList m_programFolders;
};

inline constexpr auto kDllStatusFile = "DllStatus.ini";
// The version this program writes into "DllStatus.ini". A file whose version is
// 128 or lower is discarded at start-up; writing 129 lets the next start reuse it.
inline constexpr int kDllStatusVersion = 129;
inline constexpr int kDllStatusMaxAgeDays = 30;

// Settles availability at start-up: reuses a recent "DllStatus.ini",
// checks that the components it records as present are still there, searches
// for the others and writes the file back. A broken file is deleted,
// `reportError` gets the message that says why, and the flags found so far are
// returned.
Availability settleAvailability(const QString &myPath, const ComponentLocator &locator,
                                   const std::function<void(const QString &message)> &reportError,
                                   const QDate &today = QDate::currentDate());

} // namespace salvo
