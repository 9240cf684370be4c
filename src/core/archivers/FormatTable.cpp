#include "FormatTable.h"

namespace salvo {

const std::vector<CatalogueRow> &catalogue()
{
    using enum Format;
    using C = Component;
    static const std::vector<CatalogueRow> rows{
        {Lzh, "LZH", {"lzh"}, C::UnLha32, "Unlha", 0, kOpenModeDriveLetter, "LZH"},
        {Zip, "ZIP", {"zip"}, C::UnZip32, "UnZip", 0, kOpenModeDriveLetter, "ZIP"},
        {Cab, "CAB", {"cab"}, C::Cab32, "Cab", 0, kOpenModeDriveLetter, "CAB"},
        {Gca, "GCA", {"gca"}, C::UnGca32, "UnGCA", 16, kOpenModeDriveLetter, "GCA"},
        {Rar, "RAR", {"rar"}, C::UnRar32, "Unrar", 0, kOpenModeDriveLetter, "RAR"},
        {SevenZip, "7Z", {"7z"}, C::SevenZip32, "SevenZip", 0, kOpenModeDriveLetter, "7Z"},
        {Yz1, "YZ1", {"yz1"}, C::Yz1, "Yz1", 16, kOpenModeDriveLetter, "YZ1"},
        {Yz2, "YZ2", {"yz2", "yz2a6"}, C::Yz2Dec, "", -1, 0, "YZ2DEC"},
        {Arj, "ARJ", {"arj"}, C::UnArj32, "Unarj", 0, kOpenModeDriveLetter, "ARJ"},
        {Tar, "TAR", {"tar", "gz", "z", "bz2"}, C::Tar32, "Tar", 0, kOpenModeDriveLetter, "TAR"},
        {Bga, "BGA", {"bza", "gza"}, C::Bga32, "Bga", 1, 512, "BGA"},
        {Bel, "BEL", {"bel"}, C::UnBel32, "Unbel", 0, 512, "BEL"},
        {Imp, "IMP", {"imp"}, C::UnImp32, "UnImp", 0, 512, "IMP"},
        {Kty, "KTY", {"kty"}, C::Kty32, "Kty", 0, 0, "KTY"},
        {Ace, "ACE", {"ace"}, C::UnAce32, "Unace", 0, 0, "ACE"},
        {Rk, "RK", {"rk"}, C::RkExe, "", -1, 0, "RK"},
        {Pqa, "PQA", {"pqa"}, C::Paqar32, "Paqar", 0, 0, "PQA"},
        {Hki, "HKI", {"hki"}, C::UnHki32, "UnHki", 0, 0, "HKI"},
        {Exe, "", {"exe"}, C::Basp21, "", -1, 0, ""},
    };
    return rows;
}

const CatalogueRow *rowForKey(const QString &key)
{
    for (const CatalogueRow &row : catalogue()) {
        if (row.keys.contains(key))
            return &row;
    }
    return nullptr;
}

const CatalogueRow *rowForId(const QString &id)
{
    for (const CatalogueRow &row : catalogue()) {
        if (*row.id && id.compare(QLatin1String(row.id), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

QString extensionKey(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? path : path.mid(dot + 1)).toLower();
}

QString ToArchiveType(const QString &name, int direction)
{
    const QString upper = name.toUpper();
    static const QStringList same{"LZH", "ZIP", "CAB", "GCA", "RAR", "ARJ", "TAR", "BGA", "BEL",
                                  "IMP", "KTY", "ACE", "RK",  "BH",  "HKI", "YZ1"};
    if (direction == 1) {
        if (same.contains(upper))
            return upper;
        if (upper == QLatin1String("7Z"))
            return QStringLiteral("SevenZip");
        if (upper == QLatin1String("YZ2") || upper == QLatin1String("YZ2A6"))
            return QStringLiteral("YZ2");
        if (upper == QLatin1String("PQA"))
            return QStringLiteral("Paqar");
        return {};
    }
    if (upper == QLatin1String("SEVENZIP"))
        return QStringLiteral("7z");
    if (upper == QLatin1String("PAQAR"))
        return QStringLiteral("PQA");
    if (same.contains(upper) || upper == QLatin1String("YZ2"))
        return upper;
    return {};
}

} // namespace salvo
