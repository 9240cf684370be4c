#pragma once
// How the entries of an archive are shown: the rows of the content viewer and
// the number and date texts they are made of.
#include "archivers/ComponentCaller.h"

#include <QString>

namespace salvo {

// One row of the content viewer: name, date, original size, compressed size, ratio.
struct ListRow {
    QString name, date, originalSize, compressedSize, ratio;
};

// One row as the viewer shows it, formatted by the listing's type tag.
ListRow listRow(const ComponentEntry &entry, const QString &typeTag);

// The values a row shows, for sorting by number and by time: -1 where the row
// shows "-" (the ratio in tenths of a per cent).
struct ListValues {
    qint64 date = -1; // the MS-DOS date in the upper and the time in the lower 16 bits
    qint64 originalSize = -1;
    qint64 compressedSize = -1;
    qint64 ratioTenths = -1;
};
ListValues listValues(const ComponentEntry &entry, const QString &typeTag);
// "#,#": thousands separated by ","; 0 gives the empty text.
QString thousands(qint64 value);
// An MS-DOS date and time as "YYYY/MM/DD hh:nn:ss"; "-" when not a date.
QString dosDateText(quint16 date, quint16 time);

} // namespace salvo
