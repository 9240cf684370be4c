#pragma once
// File associations on the freedesktop desktop. An associated extension's MIME
// types name one of the program's two desktop entries as their default in the
// user's mimeapps.list: the "open" entry starts the program with the files, the
// DD-mode entry starts it with "/DDMODE" and the files ("Mode" of "EXTENSION").
// The default that was there before the program took a type over is kept in the
// program's own store and given back when the association is removed; a type
// that another program took over in the meantime is left alone. Extensions that
// the shared MIME database does not know get types of the program's own,
// defined in a MIME package under the user's data folder.
#include "app/shell/ShellFiles.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

namespace salvo {

struct ManagedExtension {
    const char *name;      // upper-case extension: "LZH", "ZIP", ... "BH"
    const char *checkBox;  // "Link_LZH" ...; null for "BH", which has no check box
    QStringList mimeTypes; // the first one tells whether the extension is associated
    bool ownType = false;  // the types are defined by the program's MIME package
    bool outweighsKnownGlob = false; // the extension also names an unrelated known type
};

// Every managed extension, in the order in which they are applied.
const std::vector<ManagedExtension> &managedExtensions();
// The row of an upper- or lower-case extension name; null when it is not managed.
const ManagedExtension *managedExtension(const QString &name);

// The desktop-file ids of the program's two entries.
inline constexpr auto kOpenEntryId = "salvo-extractor-open.desktop";
inline constexpr auto kDdModeEntryId = "salvo-extractor-ddmode.desktop";
inline constexpr auto kMimePackageName = "salvo-extractor.xml";

// The MIME package that defines the given types of the program's own (all of
// them when `types` is empty).
QByteArray mimePackageXml(const QStringList &types = {});
// The own types that the system-wide package installs: those of the
// extensions the user can associate, but for those whose extension also
// names a known type (they are defined only while associated).
QStringList systemMimePackageTypes();
// The types the installed menu entry opens: every associable extension's
// types that the shared MIME database or the system-wide package defines.
QStringList menuEntryMimeTypes();

class FileAssociations {
public:
    explicit FileAssociations(ShellProgram program = ShellProgram::current());

    // ${XDG_CONFIG_HOME}/mimeapps.list
    static QString mimeAppsPath();
    // The program's own store of the defaults it replaced.
    static QString backupStorePath();
    // ${XDG_DATA_HOME}/applications/<id>
    static QString entryPath(bool ddMode);
    static QString mimePackagePath();

    // Whether the extension's first type names one of the program's entries.
    bool isAssociated(const ManagedExtension &extension) const;

    // Registers every extension with a check box whose name is in `ticked`
    // (upper case) and unregisters every other one; `ddMode` chooses the entry
    // that associated files start. Then the MIME package, the entries and the
    // desktop's caches follow. False when a file could not be read or written.
    bool apply(const QSet<QString> &ticked, bool ddMode);

    bool registerExtension(const ManagedExtension &extension, bool ddMode);
    bool unregisterExtension(const ManagedExtension &extension);

    // The text of one of the program's entries, declaring the given types.
    QByteArray entryText(bool ddMode, const QStringList &types) const;

private:
    bool run(const std::vector<std::pair<const ManagedExtension *, bool>> &changes, bool ddMode);

    ShellProgram m_program;
};

} // namespace salvo
