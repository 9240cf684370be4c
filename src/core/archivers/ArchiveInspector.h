#pragma once
// What the program learns about an archive before or without extracting it:
// the check code of the pre-scan, the format inside a self-extractor, the entry
// count, the expanded size, whether its entries share one top folder, and the
// rows of the content viewer. Every answer comes from the components.
#include "archivers/FormatTable.h"
#include "archivers/ComponentCaller.h"
#include "archivers/ConsoleExtractors.h"

#include <QString>
#include <QVector>

namespace salvo {

// Check codes of CheckArchiveFile.
enum CheckCode : int {
    kCheckOk = 0,
    kCheckNoComponent = 1,
    kCheckBroken = 2,
    kCheckVersionLow = 3,
    kCheckPassword = 4,
    kCheckNotArchive = 5,
    kCheckNotSfx = 6,
    kCheckInternal = 999,
};

// One row of the content viewer: name, date, original size, compressed size, ratio.
struct ListRow {
    QString name, date, originalSize, compressedSize, ratio;
};

class ArchiveInformation {
public:
    ArchiveInformation(ComponentCaller &caller, QString myPath);

    int CheckArchiveFile(const QString &path);
    // The format id found inside a self-extractor ("" when none); `archiveType`
    // receives the viewer's type for it.
    QString GetSfxArchiveType(const QString &path, QString *archiveType = nullptr);
    qint32 GetArchiveFileCount(const QString &path, QString *archiveType = nullptr);
    // The sum of the entries' original sizes, in 64 bits.
    qint64 GetArchiveOriginalSize(const QString &path, QString *archiveType = nullptr);
    bool IsMultiRootArchive(const QString &path);
    QVector<ListRow> ListArchiveEntries(const QString &path);

    // One row as the viewer shows it, formatted by the listing's type tag.
    static ListRow formatRow(const ComponentEntry &entry, const QString &typeTag);
    // "#,#": thousands separated by ","; 0 gives the empty text.
    static QString thousands(qint64 value);
    // An MS-DOS date and time as "YYYY/MM/DD hh:nn:ss"; "-" when not a date.
    static QString dosDateText(quint16 date, quint16 time);

private:
    bool use7Zip() const;
    bool has(Component c) const { return m_caller.availability().has(c); }
    int test(const CatalogueRow &row, const QString &path, int mode);
    // The component and prefix that read a row (".zip" through 7-zip32 with Use7Zip).
    const CatalogueRow &memberFor(const CatalogueRow &row, bool forceUnzip = false) const;
    ConsoleExtractors console() const;
    bool walkRow(const CatalogueRow &row, const QString &path, const ComponentCaller::Visitor &visit,
                 quint32 openMode);

    ComponentCaller &m_caller;
    QString m_myPath;
};

} // namespace salvo
