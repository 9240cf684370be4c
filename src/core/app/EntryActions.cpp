#include "EntryActions.h"

#include "app/WorkFolder.h"
#include "archivers/ArchiveProbe.h"
#include "archivers/ComponentCaller.h"
#include "engine/EntryCommands.h"
#include "engine/OutputFolders.h"
#include "engine/ProcessRunner.h"
#include "platform/KnownFolders.h"
#include "platform/LocalPath.h"
#include "platform/UserIdentity.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QSet>

#include <optional>

namespace salvo {
namespace {

const QString kExtractFailed = QStringLiteral("ファイルの解凍に失敗しました。");
const QString kDeleteFailed = QStringLiteral("ファイルの削除に失敗しました。");
const QString kAddFailed = QStringLiteral("ファイル追加失敗");
const QString kUnsupported = QStringLiteral("対応していない形式のファイルです");

QString keyOf(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}

// The component's own explanation: its output without the count line of a
// write, at most a few lines.
QString detailOf(const QString &output, bool skipCountLine)
{
    QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (skipCountLine && !lines.isEmpty())
        lines.removeFirst();
    while (lines.size() > 5)
        lines.removeLast();
    return lines.join(QLatin1Char('\n'));
}

QString withDetail(const QString &text, const QString &detail)
{
    return detail.isEmpty() ? text : text + QLatin1Char('\n') + detail;
}

// "<done> <requested>" on the first line of a write's output.
std::optional<int> doneCount(const QString &output)
{
    const QString first = output.section(QLatin1Char('\n'), 0, 0);
    bool ok = false;
    const int done = first.section(QLatin1Char(' '), 0, 0).toInt(&ok);
    return ok ? std::optional<int>(done) : std::nullopt;
}

QString unquoted(QString line)
{
    line = line.trimmed();
    if (line.size() >= 2 && line.startsWith(QLatin1Char('"')) && line.endsWith(QLatin1Char('"')))
        line = line.mid(1, line.size() - 2);
    return line;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = pathFromLocalBytes(raw).trimmed();
        if (!line.isEmpty())
            lines << line;
    }
    return lines;
}

bool writeLines(const QString &path, const QStringList &lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &line : lines)
        file.write(localBytesOfPath(line) + '\n'); // names that are not UTF-8 keep their bytes
    return file.commit();
}

// A plain folder path inside an archive: no empty, "." or ".." level.
bool plainFolderPath(const QString &folder)
{
    if (folder.isEmpty())
        return true;
    for (const QString &part : folder.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

// Copies a dropped file or folder into `folder` under its own name, keeping
// modification times (the zip writer adds only files newer than their entries).
bool copyInto(const QString &source, const QString &folder)
{
    const QFileInfo info(source);
    const QString target = folder + QLatin1Char('/') + info.fileName();
    if (info.isDir() && !info.isSymLink()) {
        if (!QDir().mkpath(target))
            return false;
        const QStringList children =
            QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &child : children) {
            if (!copyInto(source + QLatin1Char('/') + child, target))
                return false;
        }
        return true;
    }
    if (!info.isFile() || !QFile::copy(source, target))
        return false;
    QFile copy(target);
    if (copy.open(QIODevice::ReadWrite))
        copy.setFileTime(info.lastModified(), QFileDevice::FileModificationTime);
    return true;
}

constexpr QFile::Permissions kExecutableBits =
    QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;

} // namespace

ViewerCommand doubleClickCommand(int action, int targetPlace, const QString &templateText)
{
    using enum ViewerCommand;
    if (action == static_cast<int>(DoubleClickAction::Open)) {
        switch (static_cast<ViewerTargetPlace>(targetPlace)) {
        case ViewerTargetPlace::OpenOnly: return Open;
        case ViewerTargetPlace::AskFolder: return OpenAskFolder;
        case ViewerTargetPlace::UsualFolder: return OpenUsualFolder;
        default: return None;
        }
    }
    if (action == static_cast<int>(DoubleClickAction::Extract)) {
        switch (static_cast<ViewerTargetPlace>(targetPlace)) {
        case ViewerTargetPlace::AskFolder: return ExtractAskFolder;
        case ViewerTargetPlace::UsualFolder: return ExtractUsualFolder;
        case ViewerTargetPlace::Template: {
            const QString name = cutAtNul(templateText);
            const ViewerCommand targets[] = {ExtractToDocuments, ExtractToDesktop, ExtractToSystem, ExtractToWindows};
            for (int i = 0; i < 4; ++i) {
                if (name == templateCaptions().at(i))
                    return targets[i];
            }
            return None;
        }
        default: return None;
        }
    }
    return None;
}

const QStringList &templateCaptions()
{
    static const QStringList captions{QStringLiteral("マイ ドキュメント"), QStringLiteral("デスクトップ"),
                                      QStringLiteral("システムフォルダ"), QStringLiteral("Windows")};
    return captions;
}

QString templateFolder(ViewerCommand command)
{
    switch (command) {
    case ViewerCommand::ExtractToDocuments: return specialFolderPath(kDocumentsFolder);
    case ViewerCommand::ExtractToDesktop: return specialFolderPath(kDesktopFolder);
    case ViewerCommand::ExtractToSystem: return specialFolderPath(kSystemFolder);
    case ViewerCommand::ExtractToWindows: return specialFolderPath(kWindowsFolder);
    default: return {};
    }
}

bool opensAfterExtraction(ViewerCommand command)
{
    return command == ViewerCommand::Open || command == ViewerCommand::OpenAskFolder
        || command == ViewerCommand::OpenUsualFolder;
}

bool isRunnableFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return false;
    if (info.isExecutable())
        return true;
    static const QStringList kSuffixes{
        "desktop", "sh",  "bash", "zsh", "csh", "ksh", "fish", "command", "py",  "pyw", "pl",       "pm",
        "rb",      "php", "lua",  "tcl", "js",  "jse", "mjs",  "jar",     "jnlp", "exe", "com",      "bat",
        "cmd",     "msi", "scr",  "pif", "vbs", "vbe", "wsf",  "wsh",     "ps1", "hta", "cpl",      "appimage",
        "run",     "bin", "elf",  "so",  "ko",  "x86_64"};
    if (kSuffixes.contains(info.suffix().toLower()))
        return true;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray head = file.read(4);
        if (head.startsWith("\x7f" "ELF") || head.startsWith("MZ") || head.startsWith("#!"))
            return true;
    }
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(info);
    static const char *const kRunnableTypes[] = {
        "application/x-executable",     "application/x-sharedlib",  "application/x-pie-executable",
        "application/x-shellscript",    "application/x-desktop",    "application/x-ms-dos-executable",
        "application/x-msdownload",     "application/x-msi",        "application/x-perl",
        "text/x-python",                "text/x-python3",           "application/x-ruby",
        "application/javascript",       "application/x-java-archive", "application/x-java-jnlp-file",
        "application/x-php",            "text/x-tcl",               "text/x-lua",
        "application/vnd.appimage",     "application/x-bat",        "text/x-script",
    };
    for (const char *type : kRunnableTypes) {
        if (mime.inherits(QLatin1String(type)))
            return true;
    }
    return mime.name().contains(QLatin1String("executable")) || mime.name().contains(QLatin1String("script"));
}

QString privateWorkFolder(const QString &myPath)
{
    makeWorkFolder(myPath);
    const QString folder = workFolderPath(myPath);
    const QFileInfo info(folder);
    if (info.isSymLink() || !info.isDir() || QString::number(info.ownerId()) != currentUserId())
        return {};
    if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return {};
    return folder;
}

bool takesDroppedFiles(const QString &archive)
{
    static const QStringList kKeys{"lzh", "zip", "bza", "gza", "7z", "bh", "rk"};
    return kKeys.contains(keyOf(archive));
}

EntryActions::EntryActions(QString myPath, ComponentCaller &caller, ArchiveProbe &probe, RunUi &ui)
    : m_myPath(std::move(myPath)), m_caller(caller), m_probe(probe), m_ui(ui)
{
}

QString EntryActions::missingComponentText(Component component) const
{
    if (component == Component::Count)
        return {};
    return QString::fromUtf8(componentInfo(component).fileName) + QStringLiteral(" がインストールされていません。");
}

EntryActions::Extracted EntryActions::extractEntry(const QString &archive, const QString &entry, QString folder,
                                                   bool subFolder, std::optional<OverwritePolicy> overwrite)
{
    const Settings settings(m_myPath);
    EntryExtraction request;
    request.archive = archive;
    request.entry = entry;
    request.use7Zip = settings.read(ini::kUse7Zip) != 0;
    request.keepPaths = settings.read(ini::kMakeFolder4ListView) != 0;
    request.overwrite = overwrite.value_or(settings.viewerOverwritePolicy());
    request.useUnace32 = settings.read(ini::kUseUnace32) != 0;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    // The links in the chosen folder's path are the user's: resolved here,
    // since the component never takes a link for its output folder.
    folder = resolvedLocalPath(folder);
    if (subFolder) {
        folder += QLatin1Char('/') + archiveFolderName(archive);
        QDir().mkpath(folder);
    }
    request.folder = folder;
    const bool selfExtractor = keyOf(archive) == QLatin1String("exe");
    if (selfExtractor)
        request.sfxKind = m_probe.formatInsideExe(archive);
    else
        request.contentKind = m_probe.identify(archive).formatByContent();

    Extracted out;
    out.folder = folder;
    // A self-extractor's entry always lands in the folder itself.
    out.path = extractedEntryPath(folder, entry, request.keepPaths && !selfExtractor);
    const EntryCall call = entryExtractionCall(request, m_caller.availability());
    int result = kNotCalled;
    QString output;
    switch (call.kind) {
    case EntryCallKind::Unsupported:
        m_ui.showMessage(kUnsupported, MessageIcon::Error);
        return out;
    case EntryCallKind::UnsafeName:
        m_ui.showMessage(withDetail(kExtractFailed, QStringLiteral("名前に \" を含むエントリは解凍できません。")),
                         MessageIcon::Error);
        return out;
    case EntryCallKind::Missing:
        m_ui.showMessage(withDetail(kExtractFailed, missingComponentText(call.component)), MessageIcon::Error);
        return out;
    case EntryCallKind::Component: {
        // Replacing without asking holds in every format, also in those whose
        // command line has no switch for it, and always inside a self-extractor.
        std::optional<ComponentCaller::OverwriteWithoutAsking> withoutAsking;
        if (request.overwrite == OverwritePolicy::Overwrite || selfExtractor)
            withoutAsking.emplace();
        result = m_caller.run(call.component, call.prefix, call.commandLine, nullptr, &output);
        break;
    }
    case EntryCallKind::AceV2:
        result = m_caller.aceV2Extract(archive, entry, folder);
        break;
    case EntryCallKind::Console: {
        ProcessRunner runner;
        runner.runAndWait(call.commandLine);
        result = QFileInfo::exists(call.expectedFile) ? 0 : -1;
        break;
    }
    }
    if (result != 0) {
        m_ui.showMessage(withDetail(kExtractFailed, detailOf(output, false)), MessageIcon::Error);
        return out;
    }
    m_ui.setStatus(1, QStringLiteral("解凍完了！"));
    out.ok = true;
    return out;
}

OpenTarget EntryActions::prepareOpen(const Extracted &extracted)
{
    OpenTarget target;
    if (!extracted.ok || extracted.path.isEmpty())
        return target;
    const QFileInfo info(extracted.path);
    const QString real = info.canonicalFilePath();
    const QString base = QFileInfo(extracted.folder).canonicalFilePath();
    // Whatever the entry is (a link too), what is opened lies inside the folder.
    if (real.isEmpty() || base.isEmpty() || !(real == base || real.startsWith(base + QLatin1Char('/'))))
        return target;
    if (QFileInfo(real).isDir()) {
        target.path = real;
        return target;
    }
    const QFile::Permissions permissions = QFile::permissions(real);
    const bool hadExecutableBits = permissions & kExecutableBits;
    QFile::setPermissions(real, permissions & ~kExecutableBits);
    if (hadExecutableBits || isRunnableFile(real)) {
        target.path = QFileInfo(real).absolutePath();
        target.folderInstead = true;
        target.message = QStringLiteral("プログラムやスクリプトの可能性があるファイルは開きません。保存先のフォルダを開きます。\n")
            + extracted.path;
        m_ui.showMessage(target.message, MessageIcon::Information);
        return target;
    }
    target.path = real;
    return target;
}

bool EntryActions::deleteEntry(const QString &archive, const QString &entry)
{
    const Settings settings(m_myPath);
    const EntryCall call =
        entryDeletionCall(archive, entry, settings.read(ini::kUse7Zip) != 0, m_caller.availability());
    switch (call.kind) {
    case EntryCallKind::Component: {
        QString output;
        const int result = m_caller.run(call.component, call.prefix, call.commandLine, nullptr, &output);
        if (result == 0)
            return true;
        m_ui.showMessage(withDetail(kDeleteFailed, detailOf(output, true)), MessageIcon::Error);
        return false;
    }
    case EntryCallKind::Missing:
        m_ui.showMessage(withDetail(kDeleteFailed, missingComponentText(call.component)), MessageIcon::Error);
        return false;
    case EntryCallKind::UnsafeName:
        m_ui.showMessage(withDetail(kDeleteFailed, QStringLiteral("名前に \" を含むエントリは削除できません。")),
                         MessageIcon::Error);
        return false;
    default:
        m_ui.showMessage(kUnsupported, MessageIcon::Error);
        return false;
    }
}

bool EntryActions::writeDropList(const QStringList &paths)
{
    QStringList lines;
    for (const QString &path : paths) {
        // A line break cannot be written into a list of one path a line.
        if (!path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r')))
            lines << QLatin1Char('"') + path + QLatin1Char('"');
    }
    return writeLines(m_myPath + QLatin1String(kDropListFile), lines);
}

int EntryActions::droppedFileCount() const
{
    return readLines(m_myPath + QLatin1String(kDropListFile)).size();
}

bool EntryActions::addDroppedFiles(const QString &archive, const QString &targetFolder)
{
    const Settings settings(m_myPath);
    const QString key = keyOf(archive);
    const bool pathsAsGiven = key == QLatin1String("bh") || key == QLatin1String("rk");
    QStringList dropped;
    for (const QString &line : readLines(m_myPath + QLatin1String(kDropListFile)))
        dropped << unquoted(line);
    auto fail = [this](const QString &detail) {
        m_ui.setStatus(1, kAddFailed);
        m_ui.showMessage(withDetail(kAddFailed, detail), MessageIcon::Information);
        return false;
    };
    dropped.removeDuplicates(); // the same file dropped twice is added once
    if (dropped.isEmpty())
        return fail({});
    // Each file is stored under its own name: two files of one name (from
    // different folders) would make one entry of two, and neither is dropped
    // without a word.
    if (!pathsAsGiven) {
        QSet<QString> names;
        QStringList twice;
        for (const QString &path : dropped) {
            const QString name = QFileInfo(path).fileName();
            if (names.contains(name) && !twice.contains(name))
                twice << name;
            names.insert(name);
        }
        if (!twice.isEmpty())
            return fail(QStringLiteral("同じ名前のファイルが複数あります: ") + twice.join(QStringLiteral(", ")));
    }
    if (!plainFolderPath(targetFolder))
        return fail(QStringLiteral("追加先のフォルダ名が正しくありません: ") + targetFolder);

    // The names are relative to the folder of the last dropped file, in
    // quotes; a file from another folder keeps its full path. rk and bh take
    // the full paths as they are.
    const QString base = QFileInfo(dropped.last()).absolutePath();
    QStringList work;
    for (const QString &path : dropped) {
        const QFileInfo info(path);
        if (pathsAsGiven)
            work << info.absoluteFilePath();
        else
            work << QLatin1Char('"') + (info.absolutePath() == base ? info.fileName() : info.absoluteFilePath())
                    + QLatin1Char('"');
    }
    const QString listFile = m_myPath + QLatin1String(kWorkListFile);
    if (!writeLines(listFile, work))
        return fail(QStringLiteral("ファイルの一覧を書けません: ") + listFile);

    FileAddition request;
    request.archive = archive;
    request.targetFolder = targetFolder;
    request.baseFolder = base;
    request.listFile = listFile;
    request.stagingFolder = m_myPath + QLatin1String(kStagingFolder);
    request.use7Zip = settings.read(ini::kUse7Zip) != 0;
    const EntryCall call = fileAdditionCall(request, m_caller.availability());
    if (call.kind == EntryCallKind::Unsupported) {
        m_ui.showMessage(kUnsupported, MessageIcon::Error);
        return false;
    }
    if (call.kind == EntryCallKind::Missing)
        return fail(missingComponentText(call.component));

    // The staging folder goes afterwards, whatever happens.
    struct Staging {
        QString folder;
        bool used = false;
        ~Staging()
        {
            if (used)
                QDir(folder).removeRecursively();
        }
    } staging{request.stagingFolder};
    if (additionUsesStaging(archive, targetFolder)) {
        staging.used = true;
        QDir(staging.folder).removeRecursively();
        QFile::remove(staging.folder); // a file or a link left where the folder goes
        const QString into = staging.folder + QLatin1Char('/') + targetFolder;
        if (!QDir().mkpath(into))
            return fail(QStringLiteral("作業フォルダを作れません: ") + into);
        for (const QString &path : dropped) {
            if (!copyInto(path, into))
                return fail(QStringLiteral("ファイルをコピーできません: ") + path);
        }
    }

    int result = kNotCalled;
    QString output;
    int added = dropped.size();
    if (call.kind == EntryCallKind::Console) {
        ProcessRunner runner;
        result = runner.runAndWait(call.commandLine) ? 0 : -1;
    } else {
        result = m_caller.run(call.component, call.prefix, call.commandLine, nullptr, &output);
        added = doneCount(output).value_or(result == 0 ? added : 0);
    }
    if (result != 0 || added == 0)
        return fail(detailOf(output, true));
    m_ui.setStatus(1, QString::number(added) + QStringLiteral("ファイル追加"));
    return true;
}

} // namespace salvo
