// The settings file: read, written and read again. The input is the file,
// held in memory (the reading and writing rules are those of a file on disk;
// only the bytes stay off the disk, so that a run tries thousands of inputs).
// Rules: writing back what was read changes no value; writing one key leaves
// every other key as it read before; a written value reads back as written
// (line breaks and NUL as blanks, at most 255 characters); the typed settings
// read back what their setters wrote.
#include "FuzzCheck.h"
#include "platform/TextCodec.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"

#include <QList>

using namespace salvo;

namespace {

struct Name {
    QString section, key;
};

bool sameKey(const Name &a, const Name &b)
{
    return a.section.compare(b.section, Qt::CaseInsensitive) == 0 && a.key.compare(b.key, Qt::CaseInsensitive) == 0;
}

// Schema keys every settings file may hold, and the keys the file itself names.
QList<Name> namesIn(const QByteArray &bytes)
{
    QList<Name> names = {{"GENERAL", "SlvoStartUpMode"}, {"GENERAL", "AlwaysPath"}, {"GENERAL", "SORT"},
                         {"EXTRACT_NORMAL", "TargetPlace"}, {"DDMODE", "TargetPath"}, {"DDMODE", "ExtractMode"}};
    QString section;
    QString text = decodeUtf8OrCp932(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1Char('['))) {
            const qsizetype close = t.indexOf(QLatin1Char(']'));
            section = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || t.startsWith(QLatin1Char(';')) || section.isNull())
            continue;
        // The program's own names hold no NUL (a write would turn it into a blank).
        const QString key = line.left(eq).trimmed();
        if (section.contains(QChar(0)) || key.contains(QChar(0)))
            continue;
        names.append({section, key});
        if (names.size() >= 16)
            break;
    }
    return names;
}

QStringList readAll(const ProfileFile &file, const QList<Name> &names)
{
    QStringList values;
    for (const Name &n : names)
        values << file.readText(n.section, n.key);
    return values;
}

// What a written value reads back as: line breaks and NUL as blanks, cut to
// the longest text a read returns (not inside a surrogate pair).
QString asRead(const QString &written)
{
    QString text = singleLine(written);
    if (text.size() > ProfileFile::kMaxTextLength)
        text.truncate(ProfileFile::kMaxTextLength - (text.at(ProfileFile::kMaxTextLength - 1).isHighSurrogate() ? 1 : 0));
    return text;
}

void checkTyped(const ProfileFile &file)
{
    const Settings settings(file);
    // Whatever is stored, the typed readers give an answer.
    settings.startUpMode();
    settings.folderNameMode(LaunchMode::Normal);
    settings.overwritePolicy(LaunchMode::DdMode);
    settings.viewerOverwritePolicy();
    settings.storedTargetPlace();
    settings.ddTargetPlace();
    settings.usualFolder(LaunchMode::Normal);
    settings.usualFolder(LaunchMode::DdMode);
    settings.doubleClickAction();
    settings.viewerTargetPlace();
    for (WorkingMode m : {WorkingMode::Extract, WorkingMode::Archive}) {
        FUZZ_CHECK(settings.setStartUpMode(m));
        FUZZ_CHECK(settings.startUpMode() == m);
    }
    for (FolderNameMode m : {FolderNameMode::Automatic, FolderNameMode::Always, FolderNameMode::Never}) {
        FUZZ_CHECK(settings.setFolderNameMode(m));
        FUZZ_CHECK(settings.folderNameMode(LaunchMode::Normal) == m);
    }
    for (TargetPlace p : {TargetPlace::BesideArchive, TargetPlace::AskEachRun, TargetPlace::UsualFolder,
                          TargetPlace::Desktop, TargetPlace::ProgramFiles}) {
        FUZZ_CHECK(settings.setStoredTargetPlace(p));
        FUZZ_CHECK(settings.storedTargetPlace() == p);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const ProfileFile file = ProfileFile::inMemory(bytes);
    const QList<Name> names = namesIn(bytes);

    const QStringList before = readAll(file, names);
    for (qsizetype i = 0; i < names.size(); ++i) {
        // The classic integer reading of the text the key holds.
        FUZZ_CHECK(file.readInt(names[i].section, names[i].key, 7) == ProfileFile::parseInt(before[i])
                   || (before[i].isEmpty() && file.readText(names[i].section, names[i].key, "x") == "x"));
    }

    // Read, write back, read: the same values.
    QList<ProfileFile::Write> writes;
    for (qsizetype i = 0; i < names.size(); ++i)
        writes.append({names[i].section, names[i].key, before[i]});
    FUZZ_CHECK(file.writeTexts(writes));
    const QStringList again = readAll(file, names);
    for (qsizetype i = 0; i < names.size(); ++i)
        FUZZ_CHECK_MSG(again[i] == before[i], "[%s] %s read \"%s\", after writing it back \"%s\"",
                       qPrintable(names[i].section), qPrintable(names[i].key), qPrintable(before[i]),
                       qPrintable(again[i]));

    // One key gets the value of another (blanks, quotes and all); the rest stay.
    const qsizetype target = data[0] % names.size();
    const QString value = before[(target + 1) % names.size()] + QString::fromUtf8(bytes.right(8));
    FUZZ_CHECK(file.writeText(names[target].section, names[target].key, value));
    const QStringList after = readAll(file, names);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString want = sameKey(names[i], names[target]) ? asRead(value) : before[i];
        FUZZ_CHECK_MSG(after[i] == want, "after writing [%s] %s = \"%s\": [%s] %s reads \"%s\", not \"%s\"",
                       qPrintable(names[target].section), qPrintable(names[target].key), qPrintable(value),
                       qPrintable(names[i].section), qPrintable(names[i].key), qPrintable(after[i]),
                       qPrintable(want));
    }

    checkTyped(file);
    return 0;
}
