#include "FileAssociations.h"

#include "app/shell/KeyFileEditor.h"
#include "platform/ProgramFolder.h"

#include <QFile>
#include <QFileInfo>

namespace salvo {
namespace {

constexpr auto kDefaultsGroup = "Default Applications";
constexpr auto kBackupGroup = "Previous Defaults";

QStringList ownType(const char *extension)
{
    return {QStringLiteral("application/x-%1-compressed").arg(QLatin1String(extension))};
}

// The first desktop-file id of a default, which is a ";"-separated list.
QString firstEntry(const std::optional<QString> &value)
{
    if (!value)
        return {};
    const QStringList ids = value->split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return ids.isEmpty() ? QString() : ids.first().trimmed();
}

bool isOurs(const std::optional<QString> &value)
{
    const QString id = firstEntry(value);
    return id == QLatin1String(kOpenEntryId) || id == QLatin1String(kDdModeEntryId);
}

bool hasDefault(const std::optional<QString> &value)
{
    return !firstEntry(value).isEmpty();
}

QString upper(const char *name)
{
    return QString::fromLatin1(name);
}

} // namespace

const std::vector<ManagedExtension> &managedExtensions()
{
    static const std::vector<ManagedExtension> rows{
        {"LZH", "Link_LZH", {QStringLiteral("application/x-lha")}},
        {"ZIP", "Link_ZIP", {QStringLiteral("application/zip")}},
        {"CAB", "Link_CAB", {QStringLiteral("application/vnd.ms-cab-compressed")}},
        {"GCA", "Link_GCA", ownType("gca"), true},
        {"RAR", "Link_RAR", {QStringLiteral("application/vnd.rar")}},
        {"7Z", "Link_7ZIP", {QStringLiteral("application/x-7z-compressed")}},
        {"YZ1", "Link_YZ1", ownType("yz1"), true},
        {"ARJ", "Link_ARJ", {QStringLiteral("application/x-arj")}},
        {"TAR", "Link_TAR", {QStringLiteral("application/x-tar")}},
        // A name such as a.tar.gz has the extension of its compressor.
        {"GZ", "Link_GZ", {QStringLiteral("application/gzip"), QStringLiteral("application/x-compressed-tar")}},
        {"Z", "Link_Z", {QStringLiteral("application/x-compress"), QStringLiteral("application/x-tarz")}},
        // Older and newer names of the bzip2 types.
        {"BZ2", "Link_BZ2",
         {QStringLiteral("application/x-bzip"), QStringLiteral("application/x-bzip-compressed-tar"),
          QStringLiteral("application/x-bzip2"), QStringLiteral("application/x-bzip2-compressed-tar")}},
        {"BZA", "Link_BZA", ownType("bza"), true},
        {"GZA", "Link_GZA", ownType("gza"), true},
        {"BEL", "Link_BEL", ownType("bel"), true},
        {"IMP", "Link_IMP", ownType("imp"), true},
        {"KTY", "Link_KTY", ownType("kty"), true},
        {"ACE", "Link_ACE", {QStringLiteral("application/x-ace")}},
        {"YZ2", "Link_YZ2", ownType("yz2"), true},
        {"YZ2A6", "Link_YZ2A6", ownType("yz2a6"), true},
        {"HKI", "Link_HKI", ownType("hki"), true},
        // ".pqa" is also a Palm application, a different kind of file.
        {"PQA", "Link_PQA", ownType("pqa"), true, true},
        {"RK", "Link_RK", ownType("rk"), true},
        {"BH", nullptr, ownType("bh"), true},
        // The archives of Unix systems the tar component reads as well; their
        // types are in the shared MIME database.
        {"CPIO", "Link_CPIO", {QStringLiteral("application/x-cpio")}},
        {"ISO", "Link_ISO", {QStringLiteral("application/x-cd-image")}},
        {"DEB", "Link_DEB", {QStringLiteral("application/vnd.debian.binary-package")}},
        {"RPM", "Link_RPM", {QStringLiteral("application/x-rpm")}},
        {"XAR", "Link_XAR", {QStringLiteral("application/x-xar")}},
        {"LZ4", "Link_LZ4", {QStringLiteral("application/x-lz4"), QStringLiteral("application/x-lz4-compressed-tar")}},
        {"LZO", "Link_LZO", {QStringLiteral("application/x-lzop"), QStringLiteral("application/x-tzo")}},
    };
    return rows;
}

const ManagedExtension *managedExtension(const QString &name)
{
    for (const ManagedExtension &row : managedExtensions()) {
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

QByteArray mimePackageXml(const QStringList &types)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const ManagedExtension &row : managedExtensions()) {
        if (!row.ownType)
            continue;
        for (const QString &type : row.mimeTypes) {
            if (!types.isEmpty() && !types.contains(type))
                continue;
            const QByteArray ext = QByteArray(row.name).toLower();
            xml += "  <mime-type type=\"" + type.toLatin1() + "\">\n";
            xml += "    <comment>" + QByteArray(row.name) + " Files</comment>\n";
            xml += "    <generic-icon name=\"package-x-generic\"/>\n";
            xml += "    <glob pattern=\"*." + ext + "\"" + (row.outweighsKnownGlob ? " weight=\"60\"" : "") + "/>\n";
            xml += "  </mime-type>\n";
        }
    }
    xml += "</mime-info>\n";
    return xml;
}

QStringList systemMimePackageTypes()
{
    QStringList types;
    for (const ManagedExtension &row : managedExtensions()) {
        if (row.checkBox && row.ownType && !row.outweighsKnownGlob)
            types += row.mimeTypes;
    }
    return types;
}

QStringList menuEntryMimeTypes()
{
    QStringList types;
    for (const ManagedExtension &row : managedExtensions()) {
        if (row.checkBox && !(row.ownType && row.outweighsKnownGlob))
            types += row.mimeTypes;
    }
    return types;
}

FileAssociations::FileAssociations(ShellProgram program) : m_program(std::move(program)) {}

QString FileAssociations::mimeAppsPath()
{
    return xdgConfigHome() + QStringLiteral("/mimeapps.list");
}

QString FileAssociations::backupStorePath()
{
    return xdgConfigHome() + QStringLiteral("/SalvoExtractor/associations.list");
}

QString FileAssociations::entryPath(bool ddMode)
{
    return xdgDataHome() + QStringLiteral("/applications/")
           + QLatin1String(ddMode ? kDdModeEntryId : kOpenEntryId);
}

QString FileAssociations::mimePackagePath()
{
    return xdgDataHome() + QStringLiteral("/mime/packages/") + QLatin1String(kMimePackageName);
}

bool FileAssociations::isAssociated(const ManagedExtension &extension) const
{
    KeyFileEditor defaults(mimeAppsPath());
    return defaults.load()
           && isOurs(defaults.value(QLatin1String(kDefaultsGroup), extension.mimeTypes.first()));
}

QByteArray FileAssociations::entryText(bool ddMode, const QStringList &types) const
{
    QString exec = desktopExecArgument(m_program.executable);
    if (ddMode)
        exec += QStringLiteral(" /DDMODE");
    exec += QStringLiteral(" %F");
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n");
    text += ddMode ? QStringLiteral("Name=SalvoExtractor (簡易解凍)\n"
                                    "Comment=書庫をすぐに解凍します\n")
                   : QStringLiteral("Name=SalvoExtractor\n"
                                    "Comment=書庫を解凍します\n");
    text += QStringLiteral("Exec=") + exec + QLatin1Char('\n');
    text += QStringLiteral("Icon=") + QLatin1String(kIconName) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n"
                           "NoDisplay=true\n");
    if (!types.isEmpty())
        text += QStringLiteral("MimeType=") + types.join(QLatin1Char(';')) + QStringLiteral(";\n");
    return text.toUtf8();
}

bool FileAssociations::apply(const QSet<QString> &ticked, bool ddMode)
{
    std::vector<std::pair<const ManagedExtension *, bool>> changes;
    for (const ManagedExtension &row : managedExtensions()) {
        if (row.checkBox)
            changes.emplace_back(&row, ticked.contains(upper(row.name)));
    }
    return run(changes, ddMode);
}

bool FileAssociations::registerExtension(const ManagedExtension &extension, bool ddMode)
{
    return run({{&extension, true}}, ddMode);
}

bool FileAssociations::unregisterExtension(const ManagedExtension &extension)
{
    return run({{&extension, false}}, false);
}

bool FileAssociations::run(const std::vector<std::pair<const ManagedExtension *, bool>> &changes, bool ddMode)
{
    const QString group = QLatin1String(kDefaultsGroup);
    const QString backupGroup = QLatin1String(kBackupGroup);
    KeyFileEditor defaults(mimeAppsPath());
    KeyFileEditor backups(backupStorePath());
    // A file that is there but cannot be read is never written over.
    if (!defaults.load() || !backups.load())
        return false;

    bool anyRegistered = false;
    for (const auto &[extension, associate] : changes)
        anyRegistered = anyRegistered || associate;
    // Without a usable program path no entry can start it: nothing is taken over.
    if (anyRegistered && !m_program.usable())
        return false;

    const QString wanted = QLatin1String(ddMode ? kDdModeEntryId : kOpenEntryId);
    for (const auto &[extension, associate] : changes) {
        for (const QString &type : extension->mimeTypes) {
            const std::optional<QString> current = defaults.value(group, type);
            if (associate) {
                if (isOurs(current)) {
                    // Only the entry that is started changes (the mode); the backup stays.
                    if (*current != wanted)
                        defaults.setValue(group, type, wanted);
                    continue;
                }
                if (hasDefault(current))
                    backups.setValue(backupGroup, type, *current);
                else
                    backups.remove(backupGroup, type); // nothing was there to give back
                defaults.setValue(group, type, wanted);
            } else if (isOurs(current)) {
                const std::optional<QString> previous = backups.value(backupGroup, type);
                if (hasDefault(previous))
                    defaults.setValue(group, type, *previous);
                else
                    defaults.remove(group, type);
            }
            // A type that another program took over is left as it is.
        }
    }

    // The entries declare exactly the types they are the default of: a desktop
    // takes an entry that declares a type as a candidate for it even where it
    // is not the default.
    QStringList ourTypes, ownTypes;
    for (const ManagedExtension &row : managedExtensions()) {
        for (const QString &type : row.mimeTypes) {
            const std::optional<QString> value = defaults.value(group, type);
            if (isOurs(value))
                ourTypes += type;
            // The program's own types stay defined while any program is their default.
            if (row.ownType && hasDefault(value))
                ownTypes += type;
        }
    }

    // Entries first, then the backup, then the defaults: a default never names a
    // missing entry, and a default of ours is never without its backup.
    bool ok = true;
    bool entriesChanged = false;
    for (const bool dd : {false, true}) {
        if (!anyRegistered && !QFileInfo::exists(entryPath(dd)))
            continue;
        bool changed = false;
        ok = writeFileIfDifferent(entryPath(dd), entryText(dd, ourTypes), plainPermissions(), &changed) && ok;
        entriesChanged = entriesChanged || changed;
    }
    if (anyRegistered)
        installProgramIcon();
    if (!ok)
        return false;
    const bool defaultsChanged = defaults.isChanged();
    if (!backups.save() || !defaults.save())
        return false;

    bool packageChanged = false;
    const QString package = mimePackagePath();
    if (!ownTypes.isEmpty())
        ok = writeFileIfDifferent(package, mimePackageXml(ownTypes), plainPermissions(), &packageChanged);
    else if (QFileInfo::exists(package))
        packageChanged = QFile::remove(package);
    if (packageChanged)
        runDesktopTool(QStringLiteral("update-mime-database"), {xdgDataHome() + QStringLiteral("/mime")});
    if (entriesChanged || defaultsChanged)
        runDesktopTool(QStringLiteral("update-desktop-database"), {xdgDataHome() + QStringLiteral("/applications")});
    return ok;
}

} // namespace salvo
