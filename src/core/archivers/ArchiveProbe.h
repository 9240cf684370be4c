#pragma once
// What the program learns about an archive before or without extracting it:
// which format it is and which component reads it, the check code of the
// pre-scan, the entry count, the expanded size, whether its entries lie under
// more than one top-level name, and the rows of the content viewer. Every
// answer comes from the components; every rule per format comes from the
// format table.
#include "archivers/ComponentCaller.h"
#include "archivers/ConsoleExtractors.h"
#include "archivers/FormatTable.h"
#include "archivers/ListingText.h"

#include <QString>
#include <QVector>

#include <functional>

namespace salvo {

// What was decided about one archive, once: the row its extension selects and
// the row whose component reads it. A run carries this along from the check to
// the extraction, so a self-extractor is looked into only once.
struct ArchiveFormat {
    QString path;
    const FormatRow *row = nullptr;    // by the extension key; null: not an archive
    const FormatRow *reader = nullptr; // the row itself, the 7Z row for ".zip" with Use7Zip, or the
                                       // format found inside a self-extractor (null: none found)
    QString viewerType;                // the content viewer's archive type
    // The extension did not decide: no row has it, or its row's component
    // refused a file whose bytes show another format. `row` and `reader` are
    // then the row of what the bytes show.
    bool byContent = false;

    bool isSelfExtractor() const { return row && row->check == CheckRule::Inside; }
    // The format id found inside a self-extractor; empty otherwise.
    QString formatInside() const;
    // The format id the bytes decided (see `byContent`); empty otherwise.
    QString formatByContent() const;
};

// The archive as its extraction reads it: a ".zip" goes to the 7-zip component
// exactly when the run extracts zip archives with it (`zipBy7z`), whatever
// "Use7Zip" says when only one of the two components is there.
ArchiveFormat readAsExtracted(ArchiveFormat format, bool zipBy7z);

// An entry name as the top-folder test sees it: "." parts and empty parts
// dropped ("./a//b" is "a/b"), a trailing "/" of a folder entry kept; empty for
// the archive's own root ("./").
QString topFolderTestName(const QString &entryName);

class ArchiveProbe {
public:
    ArchiveProbe(ComponentCaller &caller, QString myPath);

    // Reads "Use7Zip" and, for a self-extractor, asks the components what is
    // inside. Where the extension does not decide, the bytes do (see
    // ArchiveFormat::byContent): the classic rows keep their extensions, and a
    // file is taken for another format only when its row's component refuses it.
    ArchiveFormat identify(const QString &path);

    CheckCode check(const ArchiveFormat &format);
    qint32 entryCount(const ArchiveFormat &format);
    // The sum of the entries' original sizes, in 64 bits.
    qint64 expandedSize(const ArchiveFormat &format);
    // True unless the entries all lie under one top-level folder or the archive
    // holds a single file at its root (names as topFolderTestName gives them).
    // An archive whose entries cannot all be listed counts as several: what
    // could not be read must not decide that its entries go loose into the
    // target. The answer comes while the listing streams (it stops at the
    // second top-level name), keeping nothing but the first one.
    bool isMultiRoot(const ArchiveFormat &format);
    QVector<ListRow> listEntries(const ArchiveFormat &format);
    // The entries one by one as the component gives them, without formatting;
    // `visit` returns false to stop. The type tag that formats them is the
    // reader's (`format.reader->typeTag`). False when the format has no
    // available reader.
    bool listEntries(const ArchiveFormat &format, const std::function<bool(const ComponentEntry &entry)> &visit);

    // The same for a path, identified afresh.
    CheckCode check(const QString &path) { return check(identify(path)); }
    qint32 entryCount(const QString &path) { return entryCount(identify(path)); }
    qint64 expandedSize(const QString &path) { return expandedSize(identify(path)); }
    bool isMultiRoot(const QString &path) { return isMultiRoot(identify(path)); }
    QVector<ListRow> listEntries(const QString &path) { return listEntries(identify(path)); }

    // The format id inside a self-extractor, "" when no component accepts it:
    // the file is offered to every available component in the table's order and
    // the last one that accepts it wins.
    QString formatInsideExe(const QString &path);

private:
    bool use7Zip() const;
    const FormatRow *findInside(const QString &path, bool use7Zip);
    void recogniseByContent(ArchiveFormat &format, bool use7Zip);
    bool has(Component c) const;
    bool available(const FormatRow &row) const;
    int test(const FormatRow &row, const QString &path, int mode);
    int version(const FormatRow &row);
    bool gateOpen(const FormatRow &row, Gate gate, const QString &path);
    int consoleTest(const FormatRow &row, const QString &path);
    QString consoleListing(const FormatRow &row, const QString &path);
    QVector<ComponentEntry> consoleEntries(const FormatRow &row, const QString &path);
    // The row that counts or sums the archive, once the row's gate is open; null
    // when nothing may be counted.
    enum class Measure { Count, Size };
    const FormatRow *readerFor(const ArchiveFormat &format, Measure measure);
    ConsoleExtractors console() const;

    ComponentCaller &m_caller;
    QString m_myPath;
};

} // namespace salvo
