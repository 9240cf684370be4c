#include "EntryCommands.h"

#include "archivers/FormatTable.h"
#include "engine/ProcessRunner.h"

#include <QStringList>

namespace salvo {
namespace {

using C = Component;

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// An entry name as the last argument of an extraction: in double quotes when it
// holds a blank. A double quote inside cannot be passed, so it becomes "?",
// which the components read as "any one character" and which matches it.
QString entryArgument(QString entry)
{
    entry.replace(QLatin1Char('"'), QLatin1Char('?'));
    if (entry.contains(QLatin1Char(' ')) || entry.contains(QLatin1Char('\t')))
        return quoted(entry);
    return entry;
}

// The components built here take "this exact name" on their command line:
// the name in quotes (never a switch, whatever it begins with) after the
// switch that makes "*", "?" and "\\" in it plain characters. A double quote
// cannot be passed at all, so such a name is refused rather than widened.
const QString kExactNames = QStringLiteral("--no-wildcards ");

bool takesExactNames(Component c)
{
    switch (c) {
    case Component::UnLha32:
    case Component::UnZip32:
    case Component::SevenZip32:
    case Component::Cab32:
    case Component::UnRar32:
    case Component::Tar32:
    case Component::Zip32J:
        return true;
    default:
        return false;
    }
}

EntryCall unsafeName(Component c)
{
    EntryCall call;
    call.kind = EntryCallKind::UnsafeName;
    call.component = c;
    return call;
}

// How a row of the extraction table puts its pieces together.
enum class Layout {
    Standard,    // prefix "archive" "folder/" entry suffix
    WholeFolder, // prefix "archive" "folder/": the whole archive, no entry
    Rk,          // the rk console program
    AceV2,       // the second-generation ACE operation
};

// One row of the single-entry extraction table. S is the overwrite switch:
// `confirm` when the setting asks first, `overwrite` when it replaces.
struct EntryForm {
    const char *keys; // extension keys, blank separated
    Component component;
    Component alsoNeeds;
    const char *prefix;
    Layout layout;
    const char *confirm, *overwrite;     // S
    const char *headTree, *headFlat;     // before S
    const char *afterTree, *afterFlat;   // after S
    const char *suffix;                  // after the entry
};

// Unlha's prefix ends in S and one more blank.
const EntryForm kForms[] = {
    {"lzh lha", C::UnLha32, C::Count, "Unlha", Layout::Standard, "-c0 -m0 ", "-c1 -m1 -y1 ", "x ", "e ", " ", " ",
     " -y -jf0"},
    {"zip", C::UnZip32, C::Count, "UnZip", Layout::Standard, "", "-o ", "-x ", "-x -j ", "-s -V -i -C -qq ",
     "-s -V -i -C -qq ", ""},
    {"7z", C::SevenZip32, C::Count, "SevenZip", Layout::Standard, "", "-y ", "x ", "e ", "", "", ""},
    {"cab", C::Cab32, C::Count, "Cab", Layout::Standard, "", "-o ", "-x ", "-x -j ", "", "", ""},
    {"gca", C::UnGca32, C::Count, "UnGCA", Layout::Standard, "-yx1 ", "-yx0 ", "e -xx1 ", "e -xx0 ", "-sx1 ", "-sx1 ",
     ""},
    {"rar", C::UnRar32, C::Count, "Unrar", Layout::Standard, "", "-y -o ", "-x ", "-e ", "", "", ""},
    {"yz1", C::Yz1, C::Count, "Yz1", Layout::Standard, "-y2 ", "-y1 ", "x -x1 ", "x -x0 ", "", "", ""},
    {"arj ard", C::UnArj32, C::Count, "Unarj", Layout::Standard, "", "-y- ", "x ", "e ", "", "", ""},
    {"tar gz z bz2 tgz tbz tbz2 taz xz txz zst tzst lz lzma lz4 tlz4 lzo tzo cpio iso ar deb udeb rpm xar", C::Tar32, C::Count, "Tar", Layout::Standard, "", "",
     "-x --use-directory=1 ", "-x --use-directory=0 ", "", "", ""},
    {"bza gza", C::Bga32, C::Count, "Bga", Layout::Standard, "", "-o ", "x -a ", "x -a -j ", "", "", ""},
    {"bel", C::UnBel32, C::Count, "Unbel", Layout::WholeFolder, "", "", " ", " ", "", "", ""},
    {"imp", C::UnImp32, C::Count, "UnImp", Layout::Standard, "-c2 ", "-c0 -y ", "x -a -r ", "e -a -r ", "", "", ""},
    {"hki", C::UnHki32, C::Count, "UnHki", Layout::Standard, "-ga1 ", "-ga0 ", "x ", "e ", "", "", ""},
    {"kty", C::Kty32, C::Count, "Kty", Layout::Standard, "c0 q ", "c3 ", "x ", "e ", "r ", "r ", ""},
    {"rk", C::RkExe, C::Count, "rk", Layout::Rk, "", "-O ", " -x -y ", " -e -y ", "-D", "-D", ""},
};

// Inside a self-extractor: no paths and replacing without asking, whatever the
// settings say. The head is the whole prefix.
struct SfxForm {
    const char *kinds; // format ids found inside, blank separated
    Component component;
    const char *prefix;
    Layout layout;
    const char *head;
    const char *suffix;
};

const SfxForm kSfxForms[] = {
    {"LZH LHA", C::UnLha32, "Unlha", Layout::Standard, "e ", " -y -jf0"},
    {"ZIP", C::UnZip32, "UnZip", Layout::Standard, "-x -j -o -s -V -i -C -qq ", ""},
    {"CAB", C::Cab32, "Cab", Layout::Standard, "-x -j -o ", ""},
    {"GCA", C::UnGca32, "UnGCA", Layout::Standard, "e -xx0 -yx0 -sx1 ", ""},
    {"RAR", C::UnRar32, "Unrar", Layout::Standard, "-e -y -o ", ""},
    {"7Z", C::SevenZip32, "SevenZip", Layout::Standard, "e -y ", ""},
    {"YZ1", C::Yz1, "Yz1", Layout::Standard, "x -x0 -y1 ", ""},
    {"ARJ ARD", C::UnArj32, "Unarj", Layout::Standard, "e -y- ", ""},
    {"TAR GZ Z BZ2", C::Tar32, "Tar", Layout::Standard, "-x --use-directory=0 ", ""},
    {"BZA GZA", C::Bga32, "Bga", Layout::Standard, "x -j -o ", ""},
    {"BEL", C::UnBel32, "Unbel", Layout::WholeFolder, " ", ""},
    {"KTY", C::Kty32, "Kty", Layout::Standard, "e c11 q r ", ""},
};

bool listed(const char *keys, const QString &key)
{
    return QString::fromLatin1(keys).split(QLatin1Char(' ')).contains(key);
}

// The archive's extension key (lower case), "" when the path has no ".".
QString keyOf(const QString &archive)
{
    const qsizetype dot = archive.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = archive.lastIndexOf(QLatin1Char('/'));
    return dot > slash ? archive.mid(dot + 1).toLower() : QString();
}

EntryCall missing(Component c)
{
    EntryCall call;
    call.kind = EntryCallKind::Missing;
    call.component = c;
    return call;
}

EntryCall unsupported()
{
    return EntryCall{};
}

EntryCall componentCall(Component c, const char *prefix, QString line)
{
    EntryCall call;
    call.kind = EntryCallKind::Component;
    call.component = c;
    call.prefix = prefix;
    call.commandLine = std::move(line);
    return call;
}

// "archive" "folder/" entry: the common tail of the extraction lines; with
// the exact-name switch before it for the components that take it.
QString tail(const EntryExtraction &r, Component c)
{
    const bool exact = takesExactNames(c);
    return (exact ? kExactNames : QString()) + quoted(r.archive) + QLatin1Char(' ') + quoted(r.folder + QLatin1Char('/'))
        + QLatin1Char(' ') + (exact ? quoted(r.entry) : entryArgument(r.entry));
}

QString wholeFolderTail(const EntryExtraction &r)
{
    return quoted(r.archive) + QLatin1Char(' ') + quoted(r.folder + QLatin1Char('/'));
}

QString rkEntry(const EntryExtraction &r)
{
    QString entry = r.entry;
    entry.replace(QLatin1Char('\\'), QLatin1Char('/'));
    entry.replace(QLatin1Char('"'), QLatin1Char('?'));
    return entry;
}

// The file rk must have made: the folder and the entry's last name part.
QString rkExpectedFile(const EntryExtraction &r)
{
    const QString entry = rkEntry(r);
    return r.folder + QLatin1Char('/') + entry.mid(entry.lastIndexOf(QLatin1Char('/')) + 1);
}

EntryCall aceCall(const EntryExtraction &r, const Availability &a, bool sfx)
{
    if (r.useUnace32 && a.has(C::UnAce32) && a.has(C::UnAceV2)) {
        const bool overwrite = sfx || r.overwrite == OverwritePolicy::Overwrite;
        const QString head = sfx ? QStringLiteral("e -y0 ")
                                 : QLatin1String(r.keepPaths ? "x " : "e ")
                + QLatin1String(overwrite ? "-y1 -o " : "-y0 ");
        return componentCall(C::UnAce32, "Unace", head + wholeFolderTail(r));
    }
    if (r.useUnace32 && !sfx && !a.has(C::UnAce32))
        return missing(C::UnAce32);
    if (!a.has(C::UnAceV2))
        return missing(C::UnAceV2);
    EntryCall call;
    call.kind = EntryCallKind::AceV2;
    call.component = C::UnAceV2;
    return call;
}

EntryCall selfExtractorCall(const EntryExtraction &r, const Availability &a)
{
    const QString kind = r.sfxKind.toUpper();
    if (kind == QLatin1String("ACE"))
        return aceCall(r, a, true);
    if (kind == QLatin1String("IMP")) {
        if (!a.has(C::UnImp32))
            return missing(C::UnImp32);
        return componentCall(C::UnImp32, "UnImp",
                             QStringLiteral("-o") + quoted(r.folder + QLatin1Char('/')) + QStringLiteral(" -a ")
                                 + quoted(r.archive) + QLatin1Char(' ') + entryArgument(r.entry));
    }
    if (kind == QLatin1String("RK")) {
        if (!a.has(C::RkExe))
            return missing(C::RkExe);
        EntryCall call;
        call.kind = EntryCallKind::Console;
        call.component = C::RkExe;
        call.commandLine = quoteIfBlank(a.rkExePath + QStringLiteral("rk")) + QStringLiteral(" -e -y -O -D")
            + quoteIfBlank(r.folder) + QLatin1Char(' ') + quoteIfBlank(r.archive) + QLatin1Char(' ')
            + entryArgument(rkEntry(r));
        call.expectedFile = rkExpectedFile(r);
        return call;
    }
    for (const SfxForm &form : kSfxForms) {
        if (kind.isEmpty() || !listed(form.kinds, kind))
            continue;
        if (!a.has(form.component))
            return missing(form.component);
        if (form.layout == Layout::Standard && takesExactNames(form.component) && r.entry.contains(QLatin1Char('"')))
            return unsafeName(form.component);
        const QString body = form.layout == Layout::WholeFolder ? wholeFolderTail(r) : tail(r, form.component);
        return componentCall(form.component, form.prefix,
                             QLatin1String(form.head) + body + QLatin1String(form.suffix));
    }
    return unsupported();
}

} // namespace

EntryCall entryExtractionCall(const EntryExtraction &r, const Availability &a)
{
    const QString key = r.contentKind.isEmpty() ? keyOf(r.archive) : r.contentKind.toLower();
    if (key == QLatin1String("exe"))
        return selfExtractorCall(r, a);
    if (key == QLatin1String("ace"))
        return aceCall(r, a, false);
    const QString row = key == QLatin1String("zip") && r.use7Zip ? QStringLiteral("7z") : key;
    for (const EntryForm &form : kForms) {
        if (!listed(form.keys, row))
            continue;
        if (!a.has(form.component))
            return missing(form.component);
        const bool overwrite = r.overwrite == OverwritePolicy::Overwrite;
        const QString head = QLatin1String(r.keepPaths ? form.headTree : form.headFlat)
            + QLatin1String(overwrite ? form.overwrite : form.confirm)
            + QLatin1String(r.keepPaths ? form.afterTree : form.afterFlat);
        switch (form.layout) {
        case Layout::Standard:
            if (takesExactNames(form.component) && r.entry.contains(QLatin1Char('"')))
                return unsafeName(form.component);
            return componentCall(form.component, form.prefix, head + tail(r, form.component) + QLatin1String(form.suffix));
        case Layout::WholeFolder:
            return componentCall(form.component, form.prefix, head + wholeFolderTail(r));
        case Layout::Rk: {
            EntryCall call;
            call.kind = EntryCallKind::Console;
            call.component = form.component;
            call.commandLine = quoteIfBlank(a.rkExePath + QLatin1String(form.prefix)) + head
                + quoted(r.folder) + QLatin1Char(' ') + quoted(r.archive) + QLatin1Char(' ') + quoted(rkEntry(r));
            call.expectedFile = rkExpectedFile(r);
            return call;
        }
        case Layout::AceV2:
            break;
        }
    }
    return unsupported();
}

EntryCall entryDeletionCall(const QString &archive, const QString &entry, bool use7Zip, const Availability &a)
{
    const QString key = keyOf(archive);
    struct Row {
        Component component;
        const char *prefix;
        QString verb;
    };
    Row row{C::Count, "", {}};
    if (key == QLatin1String("lzh") || key == QLatin1String("lha")) {
        row = {C::UnLha32, "Unlha",
               entry.contains(QLatin1Char('/')) ? QStringLiteral("d ") : QStringLiteral("d -jyd ")};
    } else if (key == QLatin1String("zip") && !use7Zip && a.has(C::Zip32J) && a.has(C::Zip32)) {
        row = {C::Zip32J, "Zip", QStringLiteral("-d ")};
    } else if (key == QLatin1String("zip") || key == QLatin1String("7z")) {
        row = {C::SevenZip32, "SevenZip", QStringLiteral("d ")};
    } else if (key == QLatin1String("bza") || key == QLatin1String("gza")) {
        row = {C::Bga32, "Bga", QStringLiteral("d ")};
    } else if (key == QLatin1String("hki")) {
        row = {C::UnHki32, "UnHki", QStringLiteral("d ")};
    } else {
        return unsupported();
    }
    if (!a.has(row.component))
        return missing(row.component);
    // Deleting takes the name exactly: a name that cannot be written between
    // quotes is refused rather than replaced by a pattern that may take more.
    if (entry.contains(QLatin1Char('"')))
        return unsafeName(row.component);
    const QString exact = takesExactNames(row.component) ? kExactNames : QString();
    return componentCall(row.component, row.prefix,
                         row.verb + exact + quoted(archive) + QLatin1Char(' ') + quoted(entry));
}

bool additionUsesStaging(const QString &archive, const QString &targetFolder)
{
    const QString key = keyOf(archive);
    return !targetFolder.isEmpty() && key != QLatin1String("lzh") && key != QLatin1String("rk");
}

EntryCall fileAdditionCall(const FileAddition &r, const Availability &a)
{
    const QString key = keyOf(r.archive);
    const QString archive = quoted(r.archive);
    const QString fromList = quoted(r.baseFolder + QLatin1Char('/')) + QLatin1Char(' ') + quoted(r.listFile);
    const QString fromStaging = quoted(r.stagingFolder + QLatin1Char('/')) + QStringLiteral(" *.*");
    const bool staging = additionUsesStaging(r.archive, r.targetFolder);
    auto call = [&](Component c, const char *prefix, const QString &line) {
        return a.has(c) ? componentCall(c, prefix, line) : missing(c);
    };
    if (key == QLatin1String("lzh")) {
        if (r.targetFolder.isEmpty())
            return call(C::UnLha32, "Unlha", QStringLiteral("a -x ") + archive + QLatin1Char(' ') + fromList);
        return call(C::UnLha32, "Unlha",
                    QStringLiteral("a -x ") + archive + QStringLiteral("  -jb") + quoted(r.targetFolder)
                        + QLatin1Char(' ') + fromList);
    }
    if (key == QLatin1String("zip") && !r.use7Zip && a.has(C::Zip32J) && a.has(C::Zip32)) {
        if (!staging)
            return call(C::Zip32J, "Zip", QStringLiteral("-u -S -D ") + archive + QLatin1Char(' ') + fromList);
        return call(C::Zip32J, "Zip", QStringLiteral("-u -S -D -r ") + archive + QLatin1Char(' ') + fromStaging);
    }
    if (key == QLatin1String("zip") || key == QLatin1String("7z")) {
        const QString type = key == QLatin1String("zip") ? QStringLiteral("-tzip") : QStringLiteral("-t7z");
        if (!staging) {
            const QString end = key == QLatin1String("7z") ? QStringLiteral(" -ms=off") : QString();
            return call(C::SevenZip32, "SevenZip",
                        QStringLiteral("a ") + type + QLatin1Char(' ') + archive + QLatin1Char(' ') + fromList + end);
        }
        return call(C::SevenZip32, "SevenZip",
                    QStringLiteral("a ") + type + QStringLiteral(" -r ") + archive + QLatin1Char(' ') + fromStaging
                        + QStringLiteral(" -ms=off"));
    }
    if (key == QLatin1String("bza") || key == QLatin1String("gza")) {
        if (!staging)
            return call(C::Bga32, "Bga", QStringLiteral("a -a ") + archive + QLatin1Char(' ') + fromList);
        return call(C::Bga32, "Bga", QStringLiteral("a -a -r ") + archive + QLatin1Char(' ') + fromStaging);
    }
    if (key == QLatin1String("rk")) {
        if (!a.has(C::RkExe))
            return missing(C::RkExe);
        EntryCall console;
        console.kind = EntryCallKind::Console;
        console.component = C::RkExe;
        console.commandLine = quoteIfBlank(a.rkExePath + QStringLiteral("rk")) + QStringLiteral(" -a -p0 -mx3 ")
            + archive + QLatin1Char(' ') + quoted(QLatin1Char('@') + r.listFile);
        return console;
    }
    return unsupported();
}

QString extractedEntryPath(const QString &folder, const QString &entry, bool keepPaths)
{
    QString name = entry;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.startsWith(QLatin1Char('/')) || (name.size() >= 2 && name.at(1) == QLatin1Char(':'))
        || name.contains(QChar(0)))
        return {};
    QStringList parts;
    for (const QString &part : name.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return {};
        if (!part.isEmpty() && part != QLatin1String("."))
            parts << part;
    }
    // A folder entry is a folder only where paths are kept.
    if (parts.isEmpty() || (name.endsWith(QLatin1Char('/')) && !keepPaths))
        return {};
    if (!keepPaths)
        parts = QStringList{parts.last()};
    return folder + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

} // namespace salvo
