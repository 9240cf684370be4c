#pragma once
// The archiver catalogue: which extensions select which format, which
// component serves it, and how it is checked and opened. Every operation of the
// adapter layer dispatches on this one table, in its row order.
#include "archivers/Availability.h"

#include <QString>
#include <QStringList>

namespace salvo {

enum class Format { Lzh, Zip, Cab, Gca, Rar, SevenZip, Yz1, Yz2, Arj, Tar, Bga, Bel, Imp, Kty, Ace, Rk, Pqa, Hki, Exe };

struct CatalogueRow {
    Format format;
    const char *id;          // "LZH", "ZIP", ...; "" for exe (the format inside decides)
    QStringList keys;        // extension keys, lower case
    Component component;     // the component that serves it (see also `alsoNeeds`)
    const char *prefix;      // entry-point prefix, "" for console programs
    int checkMode;           // mode of the CheckArchive entry; -1: no test
    quint32 openMode;        // mode of the OpenArchive entry
    const char *typeTag;     // the listing's type tag
};

const std::vector<CatalogueRow> &catalogue();
const CatalogueRow *rowForKey(const QString &key);
const CatalogueRow *rowForId(const QString &id); // without regard to case

// The lower-cased text after the last "." of a path; the whole path, lower-cased,
// when it has no ".".
QString extensionKey(const QString &path);

// The viewer's archive type: direction 1 maps a format id or extension to the
// type name, any other direction maps a type name back to its id.
QString ToArchiveType(const QString &name, int direction);

// Which component reads ".zip" archives: 7-zip32 when Use7Zip is set.
inline constexpr quint32 kOpenModeDriveLetter = 0x00400000;
inline constexpr int kUnzipMinimumVersion = 90;

} // namespace salvo
