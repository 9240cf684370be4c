#include "ExtractionCommands.h"

#include "engine/ProcessRunner.h"

namespace salvo {
namespace {

struct Row {
    const char *extensions; // upper case, blank separated
    Component component;
    const char *prefix;
    const char *switchOverwrite; // OverWrite 0
    const char *switchAsk;       // OverWrite non-zero
    const char *verbFlat;        // ignore-directories on
    const char *verbTree;        // off
    const char *extra;           // between the switch and the archive
    const char *tail;
};

// The standard form: verb, switch, extra, "archive", blank, "outdir/", tail.
const Row kRows[] = {
    {"LZH LHA", Component::UnLha32, "Unlha", "-c1 -m1 -y1 ", "-c0 -m0 ", "e ", "x ", "-jf0 ", ""},
    {"ZIP", Component::UnZip32, "UnZip", "-o ", "", "-x -j ", "-x ", "-s -V -i -C -qq ", ""},
    {"CAB", Component::Cab32, "Cab", "-o ", "", "-x -j ", "-x ", "", ""},
    {"GCA", Component::UnGca32, "UnGCA", "-yx0 ", "-yx1 ", "e -xx0 ", "e -xx1 ", "-sx1 ", ""},
    {"RAR", Component::UnRar32, "Unrar", "-y -o ", "", "-e ", "-x ", "", ""},
    {"7Z", Component::SevenZip32, "SevenZip", "-y ", "", "e ", "x ", "", ""},
    {"YZ1", Component::Yz1, "Yz1", "-y1 ", "-y2 ", "x -x0 ", "x -x1 ", "", ""},
    {"ARJ ARD", Component::UnArj32, "Unarj", "-y- ", "", "e ", "x ", "", ""},
    {"BZA GZA", Component::Bga32, "Bga", "-o ", "", "x -a -j ", "x -a ", "", ""},
    {"IMP", Component::UnImp32, "UnImp", "-c0 -y ", "-c2 ", "e -a -r ", "x -a -r ", "", " *"},
    {"HKI", Component::UnHki32, "UnHki", "-ga0 ", "-ga1 ", "e ", "x ", "", " *.*"},
    {"KTY", Component::Kty32, "Kty", "c3 ", "c0 q ", "e ", "x ", "r ", ""},
};

const Row *rowFor(const QString &ext)
{
    for (const Row &row : kRows) {
        if (QString::fromLatin1(row.extensions).split(QLatin1Char(' ')).contains(ext))
            return &row;
    }
    return nullptr;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// "archive" "outdir/"
QString archiveAndFolder(const ExtractionRequest &r)
{
    return quoted(r.archive) + QLatin1Char(' ') + quoted(r.outputDir + QLatin1Char('/'));
}

ExtractionCall componentCall(const Row &row, const ExtractionRequest &r, const Availability &a, const QString &switchText)
{
    ExtractionCall call;
    if (!a.has(row.component))
        return call;
    call.kind = CallKind::Component;
    call.component = row.component;
    call.prefix = row.prefix;
    QString extra = QLatin1String(row.extra);
    const QString verb = QLatin1String(r.ignoreDirectories ? row.verbFlat : row.verbTree);
    if (row.component == Component::Kty32 && !r.ignoreDirectories)
        extra = QStringLiteral("r  "); // two blanks with the verb "x "
    call.commandLine = verb + switchText + extra + archiveAndFolder(r) + QLatin1String(row.tail);
    return call;
}

ExtractionCall standard(const Row &row, const ExtractionRequest &r, const Availability &a)
{
    return componentCall(row, r, a, QLatin1String(r.overwrite == 0 ? row.switchOverwrite : row.switchAsk));
}

ExtractionCall rkCall(const ExtractionRequest &r, const Availability &a, bool selfExtractor)
{
    ExtractionCall call;
    if (!a.has(Component::RkExe))
        return call;
    call.kind = CallKind::Console;
    call.component = Component::RkExe;
    const QString verb = r.ignoreDirectories ? QStringLiteral("-e -y ") : QStringLiteral("-x -y ");
    const QString program = selfExtractor ? a.rkExePath + QStringLiteral("rk ") : quoteIfBlank(a.rkExePath + QStringLiteral("rk")) + QLatin1Char(' ');
    call.commandLine = program + verb + (r.overwrite == 0 ? QStringLiteral("-O ") : QString()) + QStringLiteral("-D")
        + quoted(r.outputDir) + QLatin1Char(' ') + quoted(r.archive);
    return call;
}

ExtractionCall aceV2(const Availability &a)
{
    ExtractionCall call;
    if (a.has(Component::UnAceV2)) {
        call.kind = CallKind::AceV2;
        call.component = Component::UnAceV2;
    }
    return call;
}

ExtractionCall byExtension(const QString &ext, const ExtractionRequest &r, const Availability &a)
{
    if (ext == QLatin1String("ZIP") && r.zipBy7z)
        return standard(*rowFor(QStringLiteral("7Z")), r, a);
    if (const Row *row = rowFor(ext))
        return standard(*row, r, a);
    ExtractionCall call;
    if (ext == QLatin1String("TAR") || ext == QLatin1String("GZ") || ext == QLatin1String("Z") || ext == QLatin1String("BZ2")) {
        if (!a.has(Component::Tar32))
            return call;
        call = {CallKind::Component, Component::Tar32, "Tar",
                (r.ignoreDirectories ? QStringLiteral("-x --use-directory=0 ") : QStringLiteral("-x --use-directory=1 "))
                    + archiveAndFolder(r)};
        return call;
    }
    if (ext == QLatin1String("BEL")) {
        if (a.has(Component::UnBel32))
            call = {CallKind::Component, Component::UnBel32, "Unbel", QLatin1Char(' ') + archiveAndFolder(r)};
        return call;
    }
    if (ext == QLatin1String("PQA")) {
        if (a.has(Component::Paqar32)) {
            call = {CallKind::Component, Component::Paqar32, "Paqar",
                    (r.ignoreDirectories ? QStringLiteral("e ") : QStringLiteral("x "))
                        + (r.overwrite == 0 ? QStringLiteral("-q2") : QString()) + QStringLiteral(" -b")
                        + quoted(r.outputDir) + QLatin1Char(' ') + quoted(r.archive)};
        }
        return call;
    }
    if (ext == QLatin1String("RK"))
        return rkCall(r, a, false);
    if (ext == QLatin1String("YZ2") || ext == QLatin1String("YZ2A6")) {
        if (a.has(Component::Yz2Dec)) {
            call = {CallKind::Console, Component::Yz2Dec, "",
                    quoteIfBlank(a.yz2DecPath + QStringLiteral("yz2dec")) + QLatin1Char(' ')
                        + (r.overwrite == 0 ? QStringLiteral("-y ") : QString()) + QStringLiteral("-d")
                        + quoteIfBlank(r.outputDir) + QLatin1Char(' ') + quoteIfBlank(r.archive) + QStringLiteral(" -j")};
        }
        return call;
    }
    if (ext == QLatin1String("ACE")) {
        if (r.useUnace32 && r.overwrite != 0) {
            if (a.has(Component::UnAce32) && a.has(Component::UnAceV2)) {
                call = {CallKind::Component, Component::UnAce32, "Unace",
                        (r.ignoreDirectories ? QStringLiteral("e ") : QStringLiteral("x ")) + QStringLiteral("-y0 ")
                            + archiveAndFolder(r)};
            }
            return call;
        }
        return aceV2(a);
    }
    call.kind = CallKind::Unsupported;
    return call;
}

ExtractionCall selfExtractor(const ExtractionRequest &r, const Availability &a)
{
    const QString kind = r.sfxKind.toUpper();
    if (kind == QLatin1String("LZH") || kind == QLatin1String("LHA"))
        return componentCall(*rowFor(QStringLiteral("LZH")), r, a, r.overwrite == 0 ? QStringLiteral("-y ") : QString());
    if (kind == QLatin1String("ZIP"))
        return standard(*rowFor(QStringLiteral("ZIP")), r, a); // never through 7-zip
    if (kind == QLatin1String("ACE"))
        return aceV2(a);
    if (kind == QLatin1String("RK"))
        return rkCall(r, a, true);
    static const QStringList kAsTable{"CAB", "GCA", "RAR", "7Z", "YZ1", "IMP"};
    if (kAsTable.contains(kind))
        return standard(*rowFor(kind), r, a);
    return {}; // any other kind: nothing is extracted
}

} // namespace

bool zipBy7zFor(int use7Zip, const Availability &a)
{
    const bool zip = a.has(Component::UnZip32), seven = a.has(Component::SevenZip32);
    if (zip && seven)
        return use7Zip != 0;
    return !zip && seven;
}

ExtractionCall buildExtractionCall(const ExtractionRequest &request, const Availability &availability)
{
    const qsizetype dot = request.archive.lastIndexOf(QLatin1Char('.'));
    const QString ext = (dot < 0 ? request.archive : request.archive.mid(dot + 1)).toUpper();
    if (ext == QLatin1String("EXE"))
        return selfExtractor(request, availability);
    return byExtension(ext, request, availability);
}

} // namespace salvo
