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
// "#,#": thousands separated by ","; 0 gives the empty text.
QString thousands(qint64 value);
// An MS-DOS date and time as "YYYY/MM/DD hh:nn:ss"; "-" when not a date.
QString dosDateText(quint16 date, quint16 time);

} // namespace salvo
