#pragma once
// The format table: one row per archive format, in the order every dispatch
// follows. A row says which extensions select the format, which component
// serves it and with which entry prefix, and every rule that the archive check,
// self-extractor detection, counting, sizing, listing and the top-folder test
// apply to it. ArchiveProbe decides nothing per format by itself: it reads
// these rows.
#include "archivers/Availability.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace salvo {

enum class Format { Lzh, Zip, Cab, Gca, Rar, SevenZip, Yz1, Yz2, Arj, Tar, Bga, Bel, Imp, Kty, Ace, Rk, Pqa, Hki, Exe };

// Answers of the archive check.
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

// How the archive check answers once the row's components are there.
enum class CheckRule {
    Test,            // CheckArchive answers 1: valid; anything else: broken
    TestOrPassword,  // as Test, but the answer 2 means protected by a password
    VersionThenTest, // GetVersion below the row's minimum: version too low; then
                     // CheckArchive 1: valid, anything else: internal error
    ConsoleTest,     // the console program's own test: 1 valid, anything else: component missing
    Presence,        // no test: valid as soon as the components are there
    Inside,          // a self-extractor: valid when a format was found inside
};

// What must hold before an archive's entries are counted or summed (not
// consulted inside a self-extractor, where finding the format is enough).
enum class Gate {
    Check,            // CheckArchive answers 1
    CheckNotZero,     // CheckArchive answers anything but 0 (password-protected archives count)
    None,             // nothing
    CheckUnlessNewer, // no check when GetVersion is above the row's minimum, else Check
    CheckUnlessOlder, // no check when GetVersion is below the row's minimum, else Check
};

// Where a count or a size comes from.
enum class Source {
    Component,      // GetFileCount, or a walk of the entries
    ConsoleListing, // the console program's listing
    None,           // nowhere: the answer is 0
};

// The answer of the top-folder test (whether the entries lie under more than
// one top-level name).
enum class FolderTest {
    Walk,               // walk the entries
    NeverSeveral,       // false without a walk
    AlwaysSeveral,      // true without a walk
    SeveralWhenPresent, // true exactly when the component is there
};
// Inside a self-extractor every row that does not walk answers false.

enum class ConsoleProgram { None, Rk, Yz2Dec };

inline constexpr quint32 kOpenModeDriveLetter = 0x00400000;
inline constexpr int kNotOffered = -1;              // sfxMode of a row never looked for inside an ".exe"
inline constexpr quint32 kSameOpenMode = 0xFFFFFFFF; // folderTestOpenMode: as openMode

struct FormatRow {
    Format format;
    const char *id;      // "LZH", "ZIP", ...; "" for exe (the format inside decides)
    QStringList keys;    // extension keys, lower case
    Component component; // the component that serves it (Component::Count: none)
    const char *prefix;  // entry-point prefix, "" for console programs
    const char *typeTag; // the listing's type tag
    ConsoleProgram console = ConsoleProgram::None; // served by a console program instead of entry points
    Component alsoNeeds = Component::Count;        // a second component the row cannot do without
    bool sevenZipWithUse7Zip = false;              // served by the 7Z row while "Use7Zip" is set
    int minimumVersion = 0;                        // for VersionThenTest and the version gates

    CheckRule check = CheckRule::Test;
    int checkMode = 0;                   // CheckArchive mode of the check, count and size
    CheckCode missingCode = kCheckNoComponent; // the check's answer when a component is missing
    int sfxMode = 0;                     // CheckArchive mode inside a self-extractor, or kNotOffered

    Gate countGate = Gate::Check;
    Source countSource = Source::Component;
    Gate sizeGate = Gate::Check;
    Source sizeSource = Source::Component;
    const char *sizeEntry = nullptr;     // entry of the open archive giving each entry's size; null: the entry's own field
    bool sizeFirstEntryOnly = false;     // the size is that of the first entry

    FolderTest folderTest = FolderTest::Walk;
    quint32 openMode = kOpenModeDriveLetter;
    quint32 folderTestOpenMode = kSameOpenMode;
};

const std::vector<FormatRow> &formatTable();
const FormatRow *rowForKey(const QString &key);
const FormatRow *rowForId(const QString &id); // without regard to case

// The lower-cased text after the last "." of a path; the whole path, lower-cased,
// when it has no ".".
QString extensionKey(const QString &path);

// The content viewer's archive type of a format id or extension key ("7Z" gives
// "SevenZip", "GZ" nothing), and back from a type to its format id.
QString viewerArchiveType(const QString &idOrKey);
QString formatIdOfViewerType(const QString &viewerType);

} // namespace salvo
