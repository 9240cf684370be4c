#include "FormatTable.h"

#include <QFile>

#include <algorithm>

namespace salvo {

const std::vector<FormatRow> &formatTable()
{
    using enum Format;
    using C = Component;
    static const std::vector<FormatRow> rows{
        {.format = Lzh, .id = "LZH", .keys = {"lzh"}, .component = C::UnLha32, .prefix = "Unlha", .typeTag = "LZH"},
        {.format = Zip, .id = "ZIP", .keys = {"zip"}, .component = C::UnZip32, .prefix = "UnZip", .typeTag = "ZIP",
         .sevenZipWithUse7Zip = true, .minimumVersion = 90, .check = CheckRule::VersionThenTest,
         .countGate = Gate::CheckUnlessNewer, .sizeGate = Gate::CheckUnlessOlder},
        {.format = Cab, .id = "CAB", .keys = {"cab"}, .component = C::Cab32, .prefix = "Cab", .typeTag = "CAB"},
        {.format = Gca, .id = "GCA", .keys = {"gca"}, .component = C::UnGca32, .prefix = "UnGCA", .typeTag = "GCA",
         .checkMode = 16, .sfxMode = 8},
        {.format = Rar, .id = "RAR", .keys = {"rar"}, .component = C::UnRar32, .prefix = "Unrar", .typeTag = "RAR"},
        {.format = SevenZip, .id = "7Z", .keys = {"7z"}, .component = C::SevenZip32, .prefix = "SevenZip",
         .typeTag = "7Z"},
        {.format = Yz1, .id = "YZ1", .keys = {"yz1"}, .component = C::Yz1, .prefix = "Yz1", .typeTag = "YZ1",
         .check = CheckRule::TestOrPassword, .checkMode = 16, .sfxMode = 16, .countGate = Gate::CheckNotZero,
         .sizeGate = Gate::CheckNotZero},
        {.format = Yz2, .id = "YZ2", .keys = {"yz2", "yz2a6"}, .component = C::Yz2Dec, .prefix = "", .typeTag = "YZ2DEC",
         .console = ConsoleProgram::Yz2Dec, .check = CheckRule::ConsoleTest, .sfxMode = kNotOffered,
         .countGate = Gate::None, .countSource = Source::None, .sizeGate = Gate::None,
         .sizeSource = Source::ConsoleListing, .folderTest = FolderTest::SeveralWhenPresent, .openMode = 0},
        {.format = Arj, .id = "ARJ", .keys = {"arj"}, .component = C::UnArj32, .prefix = "Unarj", .typeTag = "ARJ"},
        // Tarballs under any compressor the tar component decompresses, and
        // files compressed alone (".tar.xz" has the key "xz"); then the other
        // archives of Unix systems it reads: cpio, ISO 9660 images, ar and
        // Debian packages, rpm, xar.
        {.format = Tar, .id = "TAR", .keys = {"tar", "gz", "z", "bz2", "tgz", "tbz", "tbz2", "taz", "xz", "txz", "zst",
                                              "tzst", "lz", "lzma", "lz4", "tlz4", "lzo", "tzo", "cpio", "iso", "ar",
                                              "deb", "udeb", "rpm", "xar"},
         .component = C::Tar32, .prefix = "Tar", .typeTag = "TAR"},
        {.format = Bga, .id = "BGA", .keys = {"bza", "gza"}, .component = C::Bga32, .prefix = "Bga", .typeTag = "BGA",
         .checkMode = 1, .sfxMode = 1, .openMode = 512},
        {.format = Bel, .id = "BEL", .keys = {"bel"}, .component = C::UnBel32, .prefix = "Unbel", .typeTag = "BEL",
         .sfxMode = kNotOffered, .sizeFirstEntryOnly = true, .folderTest = FolderTest::NeverSeveral,
         .openMode = 512},
        {.format = Imp, .id = "IMP", .keys = {"imp"}, .component = C::UnImp32, .prefix = "UnImp", .typeTag = "IMP",
         .sizeEntry = "GetOriginalSize", .openMode = 512},
        {.format = Kty, .id = "KTY", .keys = {"kty"}, .component = C::Kty32, .prefix = "Kty", .typeTag = "KTY",
         .sfxMode = kNotOffered, .openMode = 0},
        {.format = Ace, .id = "ACE", .keys = {"ace"}, .component = C::UnAce32, .prefix = "Unace", .typeTag = "ACE",
         .alsoNeeds = C::UnAceV2, .check = CheckRule::Presence, .openMode = 0},
        {.format = Rk, .id = "RK", .keys = {"rk"}, .component = C::RkExe, .prefix = "", .typeTag = "RK",
         .console = ConsoleProgram::Rk, .check = CheckRule::Presence, .countGate = Gate::None,
         .countSource = Source::ConsoleListing, .sizeGate = Gate::None, .sizeSource = Source::ConsoleListing,
         .folderTest = FolderTest::AlwaysSeveral, .openMode = 0},
        {.format = Pqa, .id = "PQA", .keys = {"pqa"}, .component = C::Paqar32, .prefix = "Paqar", .typeTag = "PQA",
         .sizeSource = Source::None, .folderTest = FolderTest::AlwaysSeveral, .openMode = 0},
        {.format = Hki, .id = "HKI", .keys = {"hki"}, .component = C::UnHki32, .prefix = "UnHki", .typeTag = "HKI",
         .check = CheckRule::Presence, .missingCode = kCheckInternal, .countGate = Gate::None,
         .sizeGate = Gate::None, .sizeEntry = "GetArcOriginalSize", .openMode = 0, .folderTestOpenMode = 512},
        {.format = Exe, .id = "", .keys = {"exe"}, .component = C::Count, .prefix = "", .typeTag = "",
         .check = CheckRule::Inside, .sfxMode = kNotOffered},
    };
    return rows;
}

const FormatRow *rowForKey(const QString &key)
{
    for (const FormatRow &row : formatTable()) {
        if (row.keys.contains(key))
            return &row;
    }
    return nullptr;
}

const FormatRow *rowForId(const QString &id)
{
    for (const FormatRow &row : formatTable()) {
        if (*row.id && id.compare(QLatin1String(row.id), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

namespace {

// The format a split set named "name.001" holds, by the signature of its first
// volume: "7z", "zip", "rar" or "" when none fits.
QString keyBySignature(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(8);
    if (head.startsWith("7z\xBC\xAF\x27\x1C"))
        return QStringLiteral("7z");
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x07\x08"))
        return QStringLiteral("zip");
    if (head.startsWith("Rar!\x1A\x07"))
        return QStringLiteral("rar");
    return {};
}

} // namespace

QString extensionKey(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString last = (dot < 0 ? path : path.mid(dot + 1)).toLower();
    // A numbered volume of a split archive ("name.7z.001", "name.001") has
    // the key of the archive it is a piece of.
    const bool numbered = last.size() >= 3 && std::all_of(last.begin(), last.end(), [](QChar c) { return c.isDigit(); });
    if (dot <= 0 || !numbered)
        return last;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype inner = path.lastIndexOf(QLatin1Char('.'), dot - 1);
    if (inner > slash && inner >= 0) {
        const QString key = path.mid(inner + 1, dot - inner - 1).toLower();
        if (rowForKey(key))
            return key;
    }
    const QString bySignature = keyBySignature(path);
    return bySignature.isEmpty() ? last : bySignature;
}

namespace {

// Format ids and keys that are their own viewer type.
const QStringList &sameViewerType()
{
    static const QStringList same{"LZH", "ZIP", "CAB", "GCA", "RAR", "ARJ", "TAR", "BGA", "BEL",
                                  "IMP", "KTY", "ACE", "RK",  "BH",  "HKI", "YZ1"};
    return same;
}

} // namespace

QString viewerArchiveType(const QString &idOrKey)
{
    const QString upper = idOrKey.toUpper();
    if (sameViewerType().contains(upper))
        return upper;
    if (upper == QLatin1String("7Z"))
        return QStringLiteral("SevenZip");
    if (upper == QLatin1String("YZ2") || upper == QLatin1String("YZ2A6"))
        return QStringLiteral("YZ2");
    if (upper == QLatin1String("PQA"))
        return QStringLiteral("Paqar");
    return {};
}

QString formatIdOfViewerType(const QString &viewerType)
{
    const QString upper = viewerType.toUpper();
    if (upper == QLatin1String("SEVENZIP"))
        return QStringLiteral("7z");
    if (upper == QLatin1String("PAQAR"))
        return QStringLiteral("PQA");
    if (sameViewerType().contains(upper) || upper == QLatin1String("YZ2"))
        return upper;
    return {};
}

} // namespace salvo
