#include "ExtractionCommands.h"

#include "archivers/FormatTable.h"
#include "engine/ProcessRunner.h"

namespace salvo {

const std::vector<ExtractionForm> &extractionForms()
{
    using C = Component;
    using enum LineLayout;
    // extensions, component, prefix, layout, verb flat / tree, switch overwrite / confirm,
    // extra flat / tree, tail
    static const std::vector<ExtractionForm> forms{
        {"LZH LHA", C::UnLha32, "Unlha", Standard, "e ", "x ", "-c1 -m1 -y1 ", "-c0 -m0 ", "-jf0 ", "-jf0 ", ""},
        {"ZIP", C::UnZip32, "UnZip", Standard, "-x -j ", "-x ", "-o ", "", "-s -V -i -C -qq ", "-s -V -i -C -qq ", ""},
        {"CAB", C::Cab32, "Cab", Standard, "-x -j ", "-x ", "-o ", "", "", "", ""},
        {"GCA", C::UnGca32, "UnGCA", Standard, "e -xx0 ", "e -xx1 ", "-yx0 ", "-yx1 ", "-sx1 ", "-sx1 ", ""},
        {"RAR", C::UnRar32, "Unrar", Standard, "-e ", "-x ", "-y -o ", "", "", "", ""},
        {"7Z", C::SevenZip32, "SevenZip", Standard, "e ", "x ", "-y ", "", "", "", ""},
        {"YZ1", C::Yz1, "Yz1", Standard, "x -x0 ", "x -x1 ", "-y1 ", "-y2 ", "", "", ""},
        {"ARJ ARD", C::UnArj32, "Unarj", Standard, "e ", "x ", "-y- ", "", "", "", ""},
        {"BZA GZA", C::Bga32, "Bga", Standard, "x -a -j ", "x -a ", "-o ", "", "", "", ""},
        {"IMP", C::UnImp32, "UnImp", Standard, "e -a -r ", "x -a -r ", "-c0 -y ", "-c2 ", "", "", " *"},
        {"HKI", C::UnHki32, "UnHki", Standard, "e ", "x ", "-ga0 ", "-ga1 ", "", "", " *.*"},
        // Two blanks after "r" with the verb "x ".
        {"KTY", C::Kty32, "Kty", Standard, "e ", "x ", "c3 ", "c0 q ", "r ", "r  ", ""},
        {"TAR GZ Z BZ2 TGZ TBZ TBZ2 TAZ XZ TXZ ZST TZST LZ LZMA LZ4 TLZ4 LZO TZO CPIO ISO AR DEB UDEB RPM XAR", C::Tar32, "Tar", Standard, "-x --use-directory=0 ", "-x --use-directory=1 ", "", "", "", "", ""},
        {"BEL", C::UnBel32, "Unbel", Standard, " ", " ", "", "", "", "", ""},
        // Through UnAce32 only when "UseUNACE32" is on and overwriting is confirmed; else AceV2.
        {"ACE", C::UnAce32, "Unace", Standard, "e ", "x ", "-y0 ", "-y0 ", "", "", ""},
        {"PQA", C::Paqar32, "Paqar", OutputFirst, "e ", "x ", "-q2", "", " -b", " -b", ""},
        {"RK", C::RkExe, "rk", RkProgram, "-e -y ", "-x -y ", "-O ", "", "-D", "-D", ""},
        // yz2dec has no flat form.
        {"YZ2 YZ2A6", C::Yz2Dec, "yz2dec", Yz2Program, "", "", "-y ", "", "-d", "-d", " -j"},
    };
    return forms;
}

const ExtractionForm *extractionFormFor(const QString &extension)
{
    for (const ExtractionForm &form : extractionForms()) {
        if (QString::fromLatin1(form.extensions).split(QLatin1Char(' ')).contains(extension))
            return &form;
    }
    return nullptr;
}

namespace {

constexpr auto kAceV2Mask = "*.*";
// quoteIfBlank, which makes the paths of the yz2dec line, keeps this many characters.
constexpr qsizetype kConsolePathLimit = 260;

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The line of a row. `switchText` replaces the row's overwrite switch (the
// self-extractor form of LZH); `quoteProgram` is off for rk inside an ".exe".
ExtractionCall callFor(const ExtractionForm &form, const ExtractionRequest &r, const Availability &a,
                       const QString *switchText = nullptr, bool quoteProgram = true)
{
    ExtractionCall call;
    if (!a.has(form.component))
        return call;
    const bool flat = r.ignoreDirectories;
    const QString verb = QLatin1String(flat ? form.verbFlat : form.verbTree);
    const QString switches = switchText ? *switchText
        : QLatin1String(r.overwrite == OverwritePolicy::Overwrite ? form.switchOverwrite : form.switchConfirm);
    const QString head = verb + switches + QLatin1String(flat ? form.extraFlat : form.extraTree);
    const QString tail = QLatin1String(form.tail);
    call.component = form.component;
    switch (form.layout) {
    case LineLayout::Standard:
        call.kind = CallKind::Component;
        call.prefix = form.prefix;
        call.commandLine = head + quoted(r.archive) + QLatin1Char(' ') + quoted(r.outputDir + QLatin1Char('/')) + tail;
        break;
    case LineLayout::OutputFirst:
        call.kind = CallKind::Component;
        call.prefix = form.prefix;
        call.commandLine = head + quoted(r.outputDir) + QLatin1Char(' ') + quoted(r.archive) + tail;
        break;
    case LineLayout::RkProgram: {
        const QString program = a.rkExePath + QLatin1String(form.prefix);
        call.kind = CallKind::Console;
        call.commandLine = (quoteProgram ? quoteIfBlank(program) : program) + QLatin1Char(' ') + head
            + quoted(r.outputDir) + QLatin1Char(' ') + quoted(r.archive) + tail;
        break;
    }
    case LineLayout::Yz2Program:
        call.kind = CallKind::Console;
        call.commandLine = quoteIfBlank(a.yz2DecPath + QLatin1String(form.prefix)) + QLatin1Char(' ') + head
            + quoteIfBlank(r.outputDir) + QLatin1Char(' ') + quoteIfBlank(r.archive) + tail;
        break;
    }
    return call;
}

ExtractionCall aceV2(const Availability &a)
{
    ExtractionCall call;
    if (a.has(Component::UnAceV2)) {
        call.kind = CallKind::AceV2;
        call.component = Component::UnAceV2;
        call.commandLine = QLatin1String(kAceV2Mask);
    }
    return call;
}

ExtractionCall byExtension(const QString &ext, const ExtractionRequest &r, const Availability &a)
{
    if (ext == QLatin1String("ACE")) {
        if (!r.useUnace32 || r.overwrite == OverwritePolicy::Overwrite)
            return aceV2(a);
        if (!a.has(Component::UnAceV2))
            return {};
        return callFor(*extractionFormFor(ext), r, a);
    }
    const QString row = ext == QLatin1String("ZIP") && r.zipBy7z ? QStringLiteral("7Z") : ext;
    if (const ExtractionForm *form = extractionFormFor(row))
        return callFor(*form, r, a);
    ExtractionCall call;
    call.kind = CallKind::Unsupported;
    return call;
}

ExtractionCall selfExtractor(const ExtractionRequest &r, const Availability &a)
{
    const QString kind = r.sfxKind.toUpper();
    if (kind == QLatin1String("LZH") || kind == QLatin1String("LHA")) {
        const QString switchText = r.overwrite == OverwritePolicy::Overwrite ? QStringLiteral("-y ") : QString();
        return callFor(*extractionFormFor(QStringLiteral("LZH")), r, a, &switchText);
    }
    if (kind == QLatin1String("ACE"))
        return aceV2(a);
    if (kind == QLatin1String("RK"))
        return callFor(*extractionFormFor(kind), r, a, nullptr, false);
    // ZIP always goes to the zip component: zip-by-7z is not consulted here.
    static const QStringList kAsTable{"ZIP", "CAB", "GCA", "RAR", "7Z", "YZ1", "IMP"};
    if (kAsTable.contains(kind))
        return callFor(*extractionFormFor(kind), r, a);
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
    // A numbered volume of a split archive has its archive's extension.
    const QString ext = request.contentKind.isEmpty() ? extensionKey(request.archive).toUpper()
                                                      : request.contentKind.toUpper();
    ExtractionCall call = ext == QLatin1String("EXE") ? selfExtractor(request, availability)
                                                      : byExtension(ext, request, availability);
    if (call.kind == CallKind::Component || call.kind == CallKind::Console) {
        for (const QString &path : {request.archive, request.outputDir}) {
            QString why;
            if (path.contains(QLatin1Char('"')))
                why = QStringLiteral("名前に「\"」を含むため、書庫を解凍できません。書庫はそのまま残します: ");
            else if (call.component == Component::Yz2Dec && path.size() > kConsolePathLimit)
                why = QStringLiteral("パスが長すぎるため、書庫を解凍できません。書庫はそのまま残します: ");
            else
                continue;
            call.kind = CallKind::Refused;
            call.commandLine.clear();
            call.refusal = why + path;
            break;
        }
    }
    return call;
}

} // namespace salvo
