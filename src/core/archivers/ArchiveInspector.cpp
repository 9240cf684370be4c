#include "ArchiveInspector.h"

#include "settings/Settings.h"

#include <QDate>
#include <QFile>
#include <QTime>

namespace salvo {
namespace {

const CatalogueRow &sevenZipRow()
{
    return *rowForId(QStringLiteral("7Z"));
}

bool isZipThroughSevenZip(const CatalogueRow &member, const CatalogueRow &row)
{
    return row.format == Format::Zip && member.format == Format::SevenZip;
}

} // namespace

ArchiveInformation::ArchiveInformation(ComponentCaller &caller, QString myPath)
    : m_caller(caller), m_myPath(std::move(myPath))
{
}

bool ArchiveInformation::use7Zip() const
{
    return Settings(m_myPath).read(ini::kUse7Zip) != 0;
}

ConsoleExtractors ArchiveInformation::console() const
{
    const Availability &a = m_caller.availability();
    return ConsoleExtractors(m_myPath, a.rkExePath, a.yz2DecPath);
}

const CatalogueRow &ArchiveInformation::memberFor(const CatalogueRow &row, bool forceUnzip) const
{
    if (row.format == Format::Zip && !forceUnzip && use7Zip())
        return sevenZipRow();
    return row;
}

int ArchiveInformation::test(const CatalogueRow &row, const QString &path, int mode)
{
    return m_caller.checkArchive(row.component, row.prefix, path, mode);
}

int ArchiveInformation::CheckArchiveFile(const QString &path)
{
    const QString key = extensionKey(path);
    const CatalogueRow *row = rowForKey(key);
    if (!row)
        return kCheckNotArchive;
    auto tested = [&](const CatalogueRow &r, int mode) {
        return test(r, path, mode) == 1 ? kCheckOk : kCheckBroken;
    };
    switch (row->format) {
    case Format::Zip:
        if (use7Zip())
            return has(Component::SevenZip32) ? tested(sevenZipRow(), 0) : kCheckNoComponent;
        if (!has(Component::UnZip32))
            return kCheckNoComponent;
        {
            const int version = m_caller.version(Component::UnZip32, "UnZip");
            if (version == kNotCalled)
                return kCheckInternal;
            if (version < kUnzipMinimumVersion)
                return kCheckVersionLow;
            return test(*row, path, 0) == 1 ? kCheckOk : kCheckInternal;
        }
    case Format::Yz1: {
        if (!has(Component::Yz1))
            return kCheckNoComponent;
        const int answer = test(*row, path, 16);
        return answer == 1 ? kCheckOk : answer == 2 ? kCheckPassword : kCheckBroken;
    }
    case Format::Yz2:
        // No separate YZ2 component exists here: without yz2dec the format is missing.
        if (!has(Component::Yz2Dec))
            return kCheckNoComponent;
        return console().yz2Test(path) == 1 ? kCheckOk : kCheckNoComponent;
    case Format::Ace:
        return has(Component::UnAce32) && has(Component::UnAceV2) ? kCheckOk : kCheckNoComponent;
    case Format::Rk:
        return has(Component::RkExe) ? kCheckOk : kCheckNoComponent;
    case Format::Hki:
        return has(Component::UnHki32) ? kCheckOk : kCheckInternal;
    case Format::Exe:
        return GetSfxArchiveType(path).isEmpty() ? kCheckNotSfx : kCheckOk;
    default:
        return has(row->component) ? tested(*row, row->checkMode) : kCheckNoComponent;
    }
}

QString ArchiveInformation::GetSfxArchiveType(const QString &path, QString *archiveType)
{
    QString found;
    // Every component that accepts the file overwrites the answer: the last wins.
    auto offer = [&](const char *id, int mode, bool accepted2 = false) {
        const CatalogueRow &row = *rowForId(QLatin1String(id));
        if (!has(row.component))
            return;
        const int answer = test(row, path, mode);
        if (answer == 1 || (accepted2 && answer == 2))
            found = QLatin1String(id);
    };
    offer("LZH", 0);
    if (!use7Zip() && has(Component::UnZip32)
        && m_caller.version(Component::UnZip32, "UnZip") >= kUnzipMinimumVersion)
        offer("ZIP", 0);
    offer("CAB", 0);
    offer("GCA", 8);
    offer("RAR", 0);
    offer("7Z", 0);
    offer("YZ1", 16, true);
    offer("ARJ", 0);
    offer("TAR", 0);
    offer("BGA", 1);
    offer("IMP", 0);
    if (has(Component::UnAce32) && has(Component::UnAceV2))
        offer("ACE", 0);
    if (has(Component::RkExe) && console().rkTest(path) == 1)
        found = QStringLiteral("RK");
    offer("PQA", 0);
    offer("HKI", 0);
    if (archiveType)
        *archiveType = ToArchiveType(found, 1);
    return found;
}

qint32 ArchiveInformation::GetArchiveFileCount(const QString &path, QString *archiveType)
{
    const CatalogueRow *row = rowForKey(extensionKey(path));
    if (archiveType)
        *archiveType = row ? ToArchiveType(extensionKey(path), 1) : QString();
    if (!row)
        return 0;
    auto count = [&](const CatalogueRow &r) {
        return std::max(0, m_caller.fileCount(r.component, r.prefix, path));
    };
    auto rkCount = [&] {
        if (!has(Component::RkExe))
            return 0;
        const QString list = console().rkListing(path);
        return list.isEmpty() ? 0 : static_cast<int>(ConsoleExtractors::readFileList(list).size());
    };
    switch (row->format) {
    case Format::Exe: {
        const QString id = GetSfxArchiveType(path, archiveType);
        if (id.isEmpty())
            return 0;
        if (id == QLatin1String("RK"))
            return rkCount();
        return count(*rowForId(id));
    }
    case Format::Yz2:
        return 0;
    case Format::Rk:
        return rkCount();
    case Format::Hki:
        return has(row->component) ? count(*row) : 0;
    case Format::Yz1:
        return has(row->component) && test(*row, path, 16) != 0 ? count(*row) : 0;
    case Format::Ace:
        if (!has(Component::UnAce32) || !has(Component::UnAceV2))
            return 0;
        return test(*row, path, 0) == 1 ? count(*row) : 0;
    case Format::Zip:
        if (!use7Zip()) {
            if (!has(Component::UnZip32))
                return 0;
            if (m_caller.version(Component::UnZip32, "UnZip") > kUnzipMinimumVersion)
                return count(*row);
            return test(*row, path, 0) == 1 ? count(*row) : 0;
        }
        [[fallthrough]];
    default: {
        const CatalogueRow &member = memberFor(*row);
        if (!has(member.component) || test(member, path, member.checkMode) != 1)
            return 0;
        return count(member);
    }
    }
}

bool ArchiveInformation::walkRow(const CatalogueRow &row, const QString &path, const ComponentCaller::Visitor &visit,
                               quint32 openMode)
{
    return m_caller.walk(row.component, row.prefix, path, openMode, nullptr, visit);
}

qint64 ArchiveInformation::GetArchiveOriginalSize(const QString &path, QString *archiveType)
{
    const CatalogueRow *row = rowForKey(extensionKey(path));
    if (archiveType)
        *archiveType = row ? ToArchiveType(extensionKey(path), 1) : QString();
    if (!row)
        return 0;

    auto sum = [&](const CatalogueRow &member) {
        qint64 total = 0;
        walkRow(member, path,
                [&](const ComponentEntry &e, const std::function<qint64(const char *)> &extra) {
                    if (member.format == Format::Imp)
                        total += extra("GetOriginalSize");
                    else if (member.format == Format::Hki)
                        total += extra("GetArcOriginalSize");
                    else
                        total += e.originalSize64;
                    return member.format != Format::Bel; // BEL: the first entry only
                },
                member.openMode);
        return total;
    };
    auto consoleSum = [&](const QString &list) {
        qint64 total = 0;
        if (!list.isEmpty()) {
            for (const ComponentEntry &e : ConsoleExtractors::readFileList(list))
                total += e.originalSize64;
        }
        return total;
    };

    switch (row->format) {
    case Format::Exe: {
        const QString id = GetSfxArchiveType(path, archiveType);
        if (id.isEmpty() || id == QLatin1String("YZ2") || id == QLatin1String("PQA"))
            return 0;
        if (id == QLatin1String("RK"))
            return consoleSum(console().rkListing(path));
        return sum(*rowForId(id));
    }
    case Format::Yz2:
        return has(Component::Yz2Dec) ? consoleSum(console().yz2Listing(path)) : 0;
    case Format::Rk:
        return has(Component::RkExe) ? consoleSum(console().rkListing(path)) : 0;
    case Format::Pqa:
        return 0;
    case Format::Hki:
        return has(row->component) ? sum(*row) : 0;
    case Format::Yz1:
        return has(row->component) && test(*row, path, 16) != 0 ? sum(*row) : 0;
    case Format::Ace:
        if (!has(Component::UnAce32) || !has(Component::UnAceV2))
            return 0;
        return test(*row, path, 0) == 1 ? sum(*row) : 0;
    case Format::Zip:
        if (!use7Zip()) {
            if (!has(Component::UnZip32))
                return 0;
            if (m_caller.version(Component::UnZip32, "UnZip") < kUnzipMinimumVersion)
                return sum(*row);
            return test(*row, path, 0) == 1 ? sum(*row) : 0;
        }
        [[fallthrough]];
    default: {
        const CatalogueRow &member = memberFor(*row);
        if (!has(member.component) || test(member, path, member.checkMode) != 1)
            return 0;
        return sum(member);
    }
    }
}

bool ArchiveInformation::IsMultiRootArchive(const QString &path)
{
    const CatalogueRow *row = rowForKey(extensionKey(path));
    if (!row)
        return true;
    const CatalogueRow *member = row;
    switch (row->format) {
    case Format::Bel:
        return false;
    case Format::Yz2:
        return has(Component::Yz2Dec);
    case Format::Rk:
    case Format::Pqa:
        return true;
    case Format::Exe: {
        const QString id = GetSfxArchiveType(path);
        member = rowForId(id);
        if (!member || id == QLatin1String("BEL") || id == QLatin1String("RK") || id == QLatin1String("PQA"))
            return false;
        break;
    }
    default:
        member = &memberFor(*row);
        break;
    }
    bool answer = false;
    QString firstTop;
    int rootFiles = 0;
    const quint32 openMode = member->format == Format::Hki ? 512 : member->openMode;
    walkRow(*member, path,
            [&](const ComponentEntry &e, const auto &) {
                // Only "/" separates: a name with "\" alone lies at the root.
                const qsizetype slash = e.name.indexOf(QLatin1Char('/'));
                if (slash >= 0) {
                    const QString top = e.name.left(slash);
                    if (firstTop.isNull()) {
                        firstTop = top;
                    } else if (top != firstTop) {
                        answer = true;
                        return false;
                    }
                } else if (++rootFiles == 2) {
                    answer = true;
                    return false;
                }
                return true;
            },
            openMode);
    if (!firstTop.isNull() && rootFiles == 1)
        answer = true;
    return answer;
}

QString ArchiveInformation::thousands(qint64 value)
{
    if (value == 0)
        return {};
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

QString ArchiveInformation::dosDateText(quint16 date, quint16 time)
{
    const int year = (date >> 9) + 1980, month = (date >> 5) & 15, day = date & 31;
    const int hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
    if (!QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second))
        return QStringLiteral("-");
    return QString::asprintf("%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

ListRow ArchiveInformation::formatRow(const ComponentEntry &e, const QString &tag)
{
    ListRow row;
    const bool bel = tag == QLatin1String("BEL");
    row.name = bel ? QStringLiteral("-") : e.name;
    row.date = (bel || tag == QLatin1String("YZ2DEC") || tag == QLatin1String("RK")) ? QStringLiteral("-")
                                                                                      : dosDateText(e.date, e.time);
    const qint64 original = e.originalSize64;
    const qint64 packed = e.compressedSize;
    row.originalSize = original != 0 ? thousands(original) : QStringLiteral("-");
    auto decimal = [](double v) { return QString::number(v, 'g', 15) + QLatin1Char('%'); };
    if (tag == QLatin1String("CAB") || tag == QLatin1String("TAR") || tag == QLatin1String("IMP")
        || tag == QLatin1String("YZ1")) {
        row.compressedSize = row.ratio = QStringLiteral("-");
    } else if (tag == QLatin1String("KTY") || tag == QLatin1String("ACE")) {
        row.compressedSize = packed != 0 ? thousands(packed) : QStringLiteral("-");
        row.ratio = (packed != 0 && original != 0)
            ? QString::number(double(packed) / double(original) * 100.0, 'f', 1) + QLatin1Char('%')
            : QStringLiteral("-");
    } else if (bel) {
        row.compressedSize = thousands(packed);
        row.ratio = decimal(100.0 - e.ratio / 10.0);
    } else {
        row.compressedSize = packed != 0 ? thousands(packed) : QStringLiteral("-");
        row.ratio = (packed != 0 || e.ratio != 0) ? decimal(e.ratio / 10.0) : QStringLiteral("-");
    }
    return row;
}

QVector<ListRow> ArchiveInformation::ListArchiveEntries(const QString &path)
{
    QVector<ListRow> rows;
    const CatalogueRow *row = rowForKey(extensionKey(path));
    if (!row)
        return rows;
    const CatalogueRow *member = row;
    QString tag = QLatin1String(row->typeTag);
    auto fromConsole = [&](const QString &list, const QString &consoleTag) {
        if (list.isEmpty())
            return;
        for (const ComponentEntry &e : ConsoleExtractors::readFileList(list))
            rows << formatRow(e, consoleTag);
    };
    switch (row->format) {
    case Format::Yz2:
        if (has(Component::Yz2Dec))
            fromConsole(console().yz2Listing(path), QStringLiteral("YZ2DEC"));
        return rows;
    case Format::Rk:
        if (has(Component::RkExe))
            fromConsole(console().rkListing(path), QStringLiteral("RK"));
        return rows;
    case Format::Exe: {
        const QString id = GetSfxArchiveType(path);
        if (id == QLatin1String("RK")) {
            fromConsole(console().rkListing(path), QStringLiteral("RK"));
            return rows;
        }
        member = rowForId(id); // ZIP inside an executable is read by the zip component
        if (!member)
            return rows;
        tag = QLatin1String(member->typeTag);
        break;
    }
    default:
        member = &memberFor(*row);
        if (isZipThroughSevenZip(*member, *row))
            tag = QStringLiteral("7Z");
        break;
    }
    if (!has(member->component))
        return rows;
    walkRow(*member, path,
            [&](const ComponentEntry &e, const auto &) {
                rows << formatRow(e, tag);
                return true;
            },
            member->openMode);
    return rows;
}

} // namespace salvo
