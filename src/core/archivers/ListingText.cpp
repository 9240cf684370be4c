#include "ListingText.h"

#include <QDate>
#include <QTime>

namespace salvo {

QString thousands(qint64 value)
{
    if (value == 0)
        return {};
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

namespace {

bool validDosDate(quint16 date, quint16 time)
{
    const int year = (date >> 9) + 1980, month = (date >> 5) & 15, day = date & 31;
    const int hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
    return QDate::isValid(year, month, day) && QTime::isValid(hour, minute, second);
}

bool noDate(const QString &tag)
{
    return tag == QLatin1String("BEL") || tag == QLatin1String("YZ2DEC") || tag == QLatin1String("RK");
}

// The cab component reports packed sizes (each file's share of its folder), so
// CAB rows show them like the other formats.
bool noCompression(const QString &tag)
{
    return tag == QLatin1String("TAR") || tag == QLatin1String("IMP") || tag == QLatin1String("YZ1");
}

bool ratioFromSizes(const QString &tag)
{
    return tag == QLatin1String("KTY") || tag == QLatin1String("ACE");
}

} // namespace

QString dosDateText(quint16 date, quint16 time)
{
    if (!validDosDate(date, time))
        return QStringLiteral("-");
    const int year = (date >> 9) + 1980, month = (date >> 5) & 15, day = date & 31;
    const int hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
    return QString::asprintf("%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

ListRow listRow(const ComponentEntry &e, const QString &tag)
{
    ListRow row;
    const bool bel = tag == QLatin1String("BEL");
    row.name = bel ? QStringLiteral("-") : e.name;
    row.date = noDate(tag) ? QStringLiteral("-") : dosDateText(e.date, e.time);
    const qint64 original = e.originalSize64;
    const qint64 packed = e.compressedSize;
    row.originalSize = original != 0 ? thousands(original) : QStringLiteral("-");
    auto decimal = [](double v) { return QString::number(v, 'g', 15) + QLatin1Char('%'); };
    if (noCompression(tag)) {
        row.compressedSize = row.ratio = QStringLiteral("-");
    } else if (ratioFromSizes(tag)) {
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

ListValues listValues(const ComponentEntry &e, const QString &tag)
{
    ListValues v;
    if (!noDate(tag) && validDosDate(e.date, e.time))
        v.date = (qint64(e.date) << 16) | e.time;
    const qint64 original = e.originalSize64;
    const qint64 packed = e.compressedSize;
    if (original != 0)
        v.originalSize = original;
    if (noCompression(tag))
        return v;
    if (ratioFromSizes(tag)) {
        v.compressedSize = packed != 0 ? packed : -1;
        if (packed != 0 && original != 0)
            v.ratioTenths = qRound64(double(packed) / double(original) * 1000.0);
    } else if (tag == QLatin1String("BEL")) {
        v.compressedSize = packed;
        v.ratioTenths = 1000 - e.ratio;
    } else {
        v.compressedSize = packed != 0 ? packed : -1;
        if (packed != 0 || e.ratio != 0)
            v.ratioTenths = e.ratio;
    }
    return v;
}

} // namespace salvo
