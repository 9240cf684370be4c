#include "ArchiveProbe.h"

#include "archivers/ContentSignature.h"
#include "settings/Settings.h"

namespace salvo {

QString ArchiveFormat::formatInside() const
{
    return isSelfExtractor() && reader ? QLatin1String(reader->id) : QString();
}

QString ArchiveFormat::formatByContent() const
{
    return byContent && row ? QLatin1String(row->id) : QString();
}

ArchiveFormat readAsExtracted(ArchiveFormat format, bool zipBy7z)
{
    if (format.row && !format.isSelfExtractor() && format.row->sevenZipWithUse7Zip)
        format.reader = zipBy7z ? rowForId(QStringLiteral("7Z")) : format.row;
    return format;
}

QString topFolderTestName(const QString &entryName)
{
    QStringList parts = entryName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    if (parts.isEmpty())
        return {};
    QString name = parts.join(QLatin1Char('/'));
    if (entryName.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    return name;
}

ArchiveProbe::ArchiveProbe(ComponentCaller &caller, QString myPath)
    : m_caller(caller), m_myPath(std::move(myPath))
{
}

bool ArchiveProbe::use7Zip() const
{
    return Settings(m_myPath).read(ini::kUse7Zip) != 0;
}

bool ArchiveProbe::has(Component c) const
{
    return c != Component::Count && m_caller.availability().has(c);
}

bool ArchiveProbe::available(const FormatRow &row) const
{
    return has(row.component) && (row.alsoNeeds == Component::Count || has(row.alsoNeeds));
}

ConsoleExtractors ArchiveProbe::console() const
{
    const Availability &a = m_caller.availability();
    return ConsoleExtractors(m_myPath, a.rkExePath, a.yz2DecPath);
}

int ArchiveProbe::test(const FormatRow &row, const QString &path, int mode)
{
    return m_caller.checkArchive(row.component, row.prefix, path, mode);
}

int ArchiveProbe::version(const FormatRow &row)
{
    return m_caller.version(row.component, row.prefix);
}

int ArchiveProbe::consoleTest(const FormatRow &row, const QString &path)
{
    return row.console == ConsoleProgram::Rk ? console().rkTest(path) : console().yz2Test(path);
}

QString ArchiveProbe::consoleListing(const FormatRow &row, const QString &path)
{
    return row.console == ConsoleProgram::Rk ? console().rkListing(path) : console().yz2Listing(path);
}

ArchiveFormat ArchiveProbe::identify(const QString &path)
{
    ArchiveFormat format;
    format.path = path;
    const QString key = extensionKey(path);
    format.row = rowForKey(key);
    const bool sevenZipForZip = use7Zip();
    if (!format.row) {
        recogniseByContent(format, sevenZipForZip);
        return format;
    }
    if (format.isSelfExtractor()) {
        format.reader = findInside(path, sevenZipForZip);
        format.viewerType = viewerArchiveType(format.formatInside());
        return format;
    }
    format.reader = format.row->sevenZipWithUse7Zip && sevenZipForZip ? rowForId(QStringLiteral("7Z")) : format.row;
    format.viewerType = viewerArchiveType(key);
    // A file whose bytes show another format than its extension's (a 7z saved
    // as ".zip") goes to what it is, once its own row's component refuses it.
    const QString shown = formatIdByContent(path, false);
    const FormatRow *other = shown.isEmpty() ? nullptr : rowForId(shown);
    if (other && other != format.reader && other != format.row && format.reader->console == ConsoleProgram::None
        && available(*format.reader) && test(*format.reader, path, format.reader->checkMode) != 1) {
        format.row = nullptr;
        format.reader = nullptr;
        recogniseByContent(format, sevenZipForZip);
    }
    return format;
}

void ArchiveProbe::recogniseByContent(ArchiveFormat &format, bool use7Zip)
{
    const FormatRow *row = rowForId(formatIdByContent(format.path));
    if (!row)
        return;
    format.row = row;
    format.reader = row->sevenZipWithUse7Zip && use7Zip ? rowForId(QStringLiteral("7Z")) : row;
    format.viewerType = viewerArchiveType(QLatin1String(row->id));
    format.byContent = true;
}

QString ArchiveProbe::formatInsideExe(const QString &path)
{
    const FormatRow *inside = findInside(path, use7Zip());
    return inside ? QLatin1String(inside->id) : QString();
}

const FormatRow *ArchiveProbe::findInside(const QString &path, bool use7Zip)
{
    const FormatRow *found = nullptr;
    for (const FormatRow &row : formatTable()) {
        if (row.sfxMode == kNotOffered || (row.sevenZipWithUse7Zip && use7Zip) || !available(row))
            continue;
        if (row.check == CheckRule::VersionThenTest && version(row) < row.minimumVersion)
            continue;
        bool accepted;
        if (row.console != ConsoleProgram::None) {
            accepted = consoleTest(row, path) == 1;
        } else {
            const int answer = test(row, path, row.sfxMode);
            accepted = answer == 1 || (row.check == CheckRule::TestOrPassword && answer == 2);
        }
        if (accepted)
            found = &row; // every component that accepts the file overwrites the answer
    }
    return found;
}

CheckCode ArchiveProbe::check(const ArchiveFormat &format)
{
    if (!format.row)
        return kCheckNotArchive;
    if (format.isSelfExtractor())
        return format.reader ? kCheckOk : kCheckNotSfx;
    const FormatRow &row = *format.reader;
    if (!available(row))
        return row.missingCode;
    switch (row.check) {
    case CheckRule::Test:
        return test(row, format.path, row.checkMode) == 1 ? kCheckOk : kCheckBroken;
    case CheckRule::TestOrPassword: {
        const int answer = test(row, format.path, row.checkMode);
        return answer == 1 ? kCheckOk : answer == 2 ? kCheckPassword : kCheckBroken;
    }
    case CheckRule::VersionThenTest: {
        const int v = version(row);
        if (v == kNotCalled)
            return kCheckInternal;
        if (v < row.minimumVersion)
            return kCheckVersionLow;
        return test(row, format.path, row.checkMode) == 1 ? kCheckOk : kCheckInternal;
    }
    case CheckRule::ConsoleTest:
        // Without a working console program the format counts as missing.
        return consoleTest(row, format.path) == 1 ? kCheckOk : kCheckNoComponent;
    case CheckRule::Presence:
    case CheckRule::Inside:
        break;
    }
    return kCheckOk;
}

bool ArchiveProbe::gateOpen(const FormatRow &row, Gate gate, const QString &path)
{
    switch (gate) {
    case Gate::None:
        return true;
    case Gate::CheckNotZero:
        return test(row, path, row.checkMode) != 0;
    case Gate::CheckUnlessNewer:
        if (version(row) > row.minimumVersion)
            return true;
        break;
    case Gate::CheckUnlessOlder:
        if (version(row) < row.minimumVersion)
            return true;
        break;
    case Gate::Check:
        break;
    }
    return test(row, path, row.checkMode) == 1;
}

const FormatRow *ArchiveProbe::readerFor(const ArchiveFormat &format, Measure measure)
{
    const FormatRow *row = format.reader;
    const bool count = measure == Measure::Count;
    if (!row || (count ? row->countSource : row->sizeSource) == Source::None)
        return nullptr;
    // Inside a self-extractor finding the format is check enough.
    if (format.isSelfExtractor())
        return row;
    if (!available(*row) || !gateOpen(*row, count ? row->countGate : row->sizeGate, format.path))
        return nullptr;
    return row;
}

QVector<ComponentEntry> ArchiveProbe::consoleEntries(const FormatRow &row, const QString &path)
{
    const QString list = consoleListing(row, path);
    return list.isEmpty() ? QVector<ComponentEntry>() : ConsoleExtractors::readFileList(list);
}

qint32 ArchiveProbe::entryCount(const ArchiveFormat &format)
{
    const FormatRow *row = readerFor(format, Measure::Count);
    if (!row)
        return 0;
    if (row->countSource == Source::ConsoleListing)
        return static_cast<qint32>(consoleEntries(*row, format.path).size());
    return std::max(0, m_caller.fileCount(row->component, row->prefix, format.path));
}

qint64 ArchiveProbe::expandedSize(const ArchiveFormat &format)
{
    const FormatRow *reader = readerFor(format, Measure::Size);
    if (!reader)
        return 0;
    const FormatRow &row = *reader;
    qint64 total = 0;
    if (row.sizeSource == Source::ConsoleListing) {
        for (const ComponentEntry &e : consoleEntries(row, format.path))
            total += e.originalSize64;
        return total;
    }
    m_caller.walk(row.component, row.prefix, format.path, row.openMode, nullptr,
                  [&](const ComponentEntry &e, const std::function<qint64(const char *)> &extra) {
                      total += row.sizeEntry ? extra(row.sizeEntry) : e.originalSize64;
                      return !row.sizeFirstEntryOnly;
                  });
    return total;
}

bool ArchiveProbe::isMultiRoot(const ArchiveFormat &format)
{
    if (!format.row)
        return true;
    if (!format.reader)
        return false;
    const FormatRow &row = *format.reader;
    if (row.folderTest != FolderTest::Walk) {
        if (format.isSelfExtractor())
            return false;
        switch (row.folderTest) {
        case FolderTest::NeverSeveral:
            return false;
        case FolderTest::AlwaysSeveral:
            return true;
        case FolderTest::SeveralWhenPresent:
            return available(row);
        case FolderTest::Walk:
            break;
        }
    }
    bool answer = false;
    QString firstTop;
    int rootFiles = 0;
    bool whole = false;
    const quint32 openMode = row.folderTestOpenMode == kSameOpenMode ? row.openMode : row.folderTestOpenMode;
    const bool opened = m_caller.walk(row.component, row.prefix, format.path, openMode, nullptr,
                                      [&](const ComponentEntry &e, const auto &) {
        const QString name = topFolderTestName(e.name);
        if (name.isEmpty())
            return true; // the archive's own root
        // Only "/" separates: a name with "\" alone lies at the root.
        const qsizetype slash = name.indexOf(QLatin1Char('/'));
        if (slash >= 0) {
            const QString top = name.left(slash);
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
    }, &whole);
    if (!opened || !whole)
        return true;
    if (!firstTop.isNull() && rootFiles == 1)
        answer = true;
    return answer;
}

QVector<ListRow> ArchiveProbe::listEntries(const ArchiveFormat &format)
{
    QVector<ListRow> rows;
    if (!format.reader)
        return rows;
    const QString tag = QLatin1String(format.reader->typeTag);
    listEntries(format, [&](const ComponentEntry &e) {
        rows << listRow(e, tag);
        return true;
    });
    return rows;
}

bool ArchiveProbe::listEntries(const ArchiveFormat &format, const std::function<bool(const ComponentEntry &)> &visit)
{
    if (!format.reader || !has(format.reader->component))
        return false;
    const FormatRow &row = *format.reader;
    if (row.console != ConsoleProgram::None) {
        for (const ComponentEntry &e : consoleEntries(row, format.path)) {
            if (!visit(e))
                break;
        }
        return true;
    }
    return m_caller.walk(row.component, row.prefix, format.path, row.openMode, nullptr,
                         [&](const ComponentEntry &e, const auto &) { return visit(e); });
}

} // namespace salvo
