#include "GeneralOptions.h"

#include "app/shell/FileAssociations.h"
#include "app/shell/ShellEntries.h"
#include "archivers/Availability.h"
#include "archivers/FormatTable.h"
#include "engine/MailNotice.h"
#include "settings/Settings.h"

namespace salvo {
namespace {

// A number box shows its stored text when that is a number, else the text's
// classic integer reading.
QString numberBoxText(const Settings &settings, const ini::IntKey &key)
{
    const QString text = settings.file().readText(QLatin1String(key.section), QLatin1String(key.name)).trimmed();
    if (!text.isEmpty() && isNumberText(text))
        return text;
    return QString::number(settings.read(key));
}

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

int choice(int stored, int count)
{
    return stored >= 0 && stored < count ? stored : 0;
}

} // namespace

GeneralOptions loadGeneralOptions(const QString &myPath, const FileAssociations &associations)
{
    const Settings s(myPath);
    GeneralOptions o;
    for (const ManagedExtension &row : managedExtensions()) {
        if (row.checkBox && associations.isAssociated(row))
            o.associated.insert(QLatin1String(row.name));
    }
    o.associationsStartDdMode = s.read(ini::kExtensionMode) != 0;

    o.useSendTo = s.read(ini::kUseSendTo) != 0;
    o.useDesktopShortcut = s.read(ini::kUseDeskTopNormal) != 0;
    o.useFolderMenu = s.read(ini::kUseFolderSlvoAdd) != 0;
    o.largeFont = s.read(ini::kFontSize) == 1;
    o.useSound = s.read(ini::kUseSound) != 0;
    o.soundFilePath = s.read(ini::kSoundFilePath);
    o.noEndNotice = s.read(ini::kEndNotice) != 0;
    o.sort = choice(s.read(ini::kSort), 3);

    o.useMail = s.read(ini::kMailUse) != 0;
    o.smtpServer = s.read(ini::kMailSmtpServer);
    o.port = numberBoxText(s, ini::kMailPort);
    o.timeOut = numberBoxText(s, ini::kMailTimeOut);
    o.useSmtpAuth = s.read(ini::kMailUseSmtpAuth) != 0;
    o.smtpAuth = choice(s.read(ini::kMailSmtpAuth), 3);
    o.smtpUserName = s.read(ini::kMailSmtpUserName);
    o.smtpPassword = decodeStoredPassword(s.read(ini::kMailSmtpPassword));
    o.mailTo = s.read(ini::kMailTo);
    o.mailFrom = s.read(ini::kMailFrom);
    o.subject = s.read(ini::kMailSubject);
    o.usePopBeforeSmtp = s.read(ini::kMailUsePopBeforeSmtp) != 0;
    o.popServer = s.read(ini::kMailPopServer);
    o.popUserName = s.read(ini::kMailPopUserName);
    o.popPassword = decodeStoredPassword(s.read(ini::kMailPopPassword));
    return o;
}

bool saveGeneralOptions(const QString &myPath, const GeneralOptions &o)
{
    const Settings settings(myPath);
    QList<ProfileFile::Write> writes;
    auto put = [&writes](auto key, const QString &value) {
        writes.append({QLatin1String(key.section), QLatin1String(key.name), value});
    };
    put(ini::kExtensionMode, flag(o.associationsStartDdMode));
    put(ini::kUseSendTo, flag(o.useSendTo));
    put(ini::kUseDeskTopNormal, flag(o.useDesktopShortcut));
    put(ini::kFontSize, flag(o.largeFont));
    put(ini::kUseSound, flag(o.useSound));
    put(ini::kSoundFilePath, o.soundFilePath);
    put(ini::kEndNotice, flag(o.noEndNotice));
    put(ini::kSort, QString::number(choice(o.sort, 3)));
    put(ini::kMailUse, flag(o.useMail));
    put(ini::kMailSmtpServer, o.smtpServer);
    put(ini::kMailPort, o.port);
    put(ini::kMailTimeOut, o.timeOut);
    put(ini::kMailUseSmtpAuth, flag(o.useSmtpAuth));
    put(ini::kMailSmtpAuth, QString::number(choice(o.smtpAuth, 3)));
    put(ini::kMailSmtpUserName, o.smtpUserName);
    put(ini::kMailSmtpPassword, encodeStoredPassword(o.smtpPassword));
    put(ini::kMailTo, o.mailTo);
    put(ini::kMailFrom, o.mailFrom);
    put(ini::kMailSubject, o.subject);
    put(ini::kMailUsePopBeforeSmtp, flag(o.usePopBeforeSmtp));
    put(ini::kMailPopServer, o.popServer);
    put(ini::kMailPopUserName, o.popUserName);
    put(ini::kMailPopPassword, encodeStoredPassword(o.popPassword));
    put(ini::kUseFolderSlvoAdd, flag(o.useFolderMenu));
    settings.file().makeOwnerOnly();
    return settings.file().writeTexts(writes);
}

ShellApplyResult applyGeneralShellOptions(const GeneralOptions &o, FileAssociations &associations,
                                          const ShellProgram &program)
{
    ShellApplyResult result;
    result.associationsApplied = associations.apply(o.associated, o.associationsStartDdMode);
    result.sendToResult = applySendTo(o.useSendTo, program);
    result.shortcutResult = applyDesktopShortcut(ShortcutKind::Normal, o.useDesktopShortcut, program);
    result.folderMenuResult = applyFolderMenuEntry(o.useFolderMenu, program);
    return result;
}

QSet<QString> extensionsWithArchiver(const Availability &availability, bool use7Zip)
{
    auto has = [&availability](Component c) { return c != Component::Count && availability.has(c); };
    QSet<QString> names;
    for (const ManagedExtension &extension : managedExtensions()) {
        if (!extension.checkBox)
            continue;
        const FormatRow *row = rowForKey(QString::fromLatin1(extension.name).toLower());
        if (row && row->sevenZipWithUse7Zip && use7Zip)
            row = rowForId(QStringLiteral("7Z"));
        if (row && has(row->component) && (row->alsoNeeds == Component::Count || has(row->alsoNeeds)))
            names.insert(QLatin1String(extension.name));
    }
    return names;
}

bool isNumberText(const QString &text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QStringList soundFileFilters()
{
    // The classic filters, with the formats Linux users keep their sounds in.
    return {
        QStringLiteral("Music Files(*.wav,*.mid,*.ogg,*.oga,*.flac,*.mp3) (*.wav *.mid *.ogg *.oga *.flac *.mp3)"),
        QStringLiteral("WAV Files(*.wav) (*.wav)"),
        QStringLiteral("MID Files(*.mid) (*.mid)"),
        QStringLiteral("ALL Files(*.*) (*)"),
    };
}

} // namespace salvo
