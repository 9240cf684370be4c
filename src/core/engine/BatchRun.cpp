#include "BatchRun.h"

#include "archivers/ComponentCaller.h"
#include "engine/ArchiveLookahead.h"
#include "engine/ExtractionCommands.h"
#include "engine/FailureReasons.h"
#include "engine/MailNotice.h"
#include "engine/PlainNameLinks.h"
#include "engine/ProcessRunner.h"
#include "engine/RunLog.h"
#include "engine/RunUi.h"
#include "platform/LocalPath.h"
#include "platform/RegularFile.h"
#include "settings/Settings.h"

#include "SplitVolumes.h"
#include "salvo_archiver.h"

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <optional>

namespace salvo {
namespace {

const char *checkLine(int code)
{
    switch (code) {
    case kCheckNoComponent: return " : Archiver DLL is not Exist!";
    case kCheckBroken: return " is Abnormal Archive or Broken!";
    case kCheckPassword: return " is protected by Password!(Yz1)";
    case kCheckNotArchive: return " is not Archive!";
    case kCheckNotSfx: return " is not Self-Extracter EXE File Or don't have DLL!";
    case kCheckInternal: return " : Internal Error.";
    default: return nullptr;
    }
}

} // namespace

QString elapsedText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
}

QString remainingText(qint64 elapsedMs, qint64 done, qint64 total)
{
    // The first seconds and the first bytes say little about the rest.
    if (elapsedMs < 2000 || done <= 0 || total <= 0 || done * 100 < total)
        return QStringLiteral("残り時間を計算中…");
    const qint64 s = qint64(double(elapsedMs) * double(std::max<qint64>(total - done, 0)) / double(done) / 1000.0 + 0.5);
    if (s >= 3600)
        return QStringLiteral("残り 約%1時間%2分").arg(s / 3600).arg((s / 60) % 60);
    if (s >= 60)
        return QStringLiteral("残り 約%1分%2秒").arg(s / 60).arg(s % 60);
    return QStringLiteral("残り 約%1秒").arg(s);
}

QString byteCountText(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    const char *units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QString::number(value, 'f', value < 10 ? 1 : 0) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

BatchRun::BatchRun(RunSetup setup, RunUi &ui) : m_setup(std::move(setup)), m_ui(ui) {}

BatchRun::~BatchRun() = default;

RunLog &BatchRun::log()
{
    if (!m_log) {
        m_log = std::make_unique<RunLog>(m_setup.myPath);
        m_log->open();
    }
    return *m_log;
}

void BatchRun::logFailure(const QString &archive, const QString &reason)
{
    log().writeLine(archive + QStringLiteral(" : ") + reason);
}

const Availability &BatchRun::availability() const
{
    return m_setup.caller->availability();
}

RunOutcome BatchRun::run(const QStringList &queue)
{
    // Every component call of the run ends as soon as the run is stopped.
    const ComponentCaller::CancelWhen cancel(&stop);
    RunOutcome outcome;
    RunTarget target = chooseRunTarget(Settings(m_setup.myPath), m_setup.launchMode, m_setup.targetPlace, queue, m_ui);
    if (target.cancelled) {
        m_ui.setStatus(1, QStringLiteral("解凍は中止しました。"));
        if (!target.error.isEmpty())
            m_ui.showMessage(target.error, MessageIcon::Error);
        return outcome;
    }
    outcome.began = true;
    // Passwords are asked through the window for this run only.
    m_setup.caller->setPasswordAsker(
        [this](const QString &archive, bool retry, QString *password) { return m_ui.askPassword(archive, retry, password); });
    struct AskerReset {
        ComponentCaller *caller;
        ~AskerReset() { caller->setPasswordAsker(nullptr); }
    } askerReset{m_setup.caller};
    std::vector<Item> items;
    for (int i = 0; i < queue.size(); ++i)
        items.push_back({queue.at(i), i, std::nullopt});

    const Settings ini(m_setup.myPath);
    int successes = 0;
    if (ini.read(ini::kPreScan) != 0) {
        int errors = 0;
        if (preScan(items, target, &errors)) {
            successes = extractionLoop(items, target, outcome);
        } else if (stop) {
            outcome.stopped = true;
            if (!abandon)
                m_ui.setStatus(1, QStringLiteral("解凍を中止しました。"));
        } else {
            m_ui.setStatus(1, QStringLiteral("解凍中止。"));
            m_ui.showMessage(QStringLiteral("書庫または環境に問題があるため、解凍を中止します。"), MessageIcon::Error);
        }
        if (errors > 0 && !stop) {
            const QString n = QString::number(errors);
            m_ui.setStatus(1, QStringLiteral("エラーが") + n + QStringLiteral("件ありました。"));
            m_ui.showMessage(QStringLiteral("エラーが") + n + QStringLiteral("件ありました。詳細はErrorLogをご覧下さい。"),
                             MessageIcon::Information);
        }
    } else {
        successes = extractionLoop(items, target, outcome);
    }
    outcome.successCount = successes;
    m_log.reset();
    if (!abandon)
        completion(successes, outcome.failureCount, outcome.stopped, target);
    return outcome;
}

bool BatchRun::preScan(std::vector<Item> &items, const RunTarget &target, int *errors)
{
    RunLog &log = this->log();
    m_ui.setStatus(1, QStringLiteral("書庫のチェック中."));
    // What the pre-scan finds wrong is logged and left out of the run; it stays queued.
    for (auto it = items.begin(); it != items.end() && !stop;) {
        if (!localPathExists(it->path)) {
            log.writeLine(it->path + QStringLiteral(" is not Exist!!"));
            it = items.erase(it);
            ++*errors;
        } else {
            ++it;
        }
    }
    m_ui.setStatus(1, QStringLiteral("書庫のチェック中.."));
    for (auto it = items.begin(); it != items.end() && !stop;) {
        it->format = m_setup.probe->identify(it->path);
        const int code = m_setup.probe->check(*it->format);
        if (code == kCheckOk || (code != kCheckVersionLow && !checkLine(code))) {
            ++it;
            continue;
        }
        log.writeLine(code == kCheckVersionLow ? QStringLiteral("UnZip32.DLL Version is low!")
                                               : it->path + QLatin1String(checkLine(code)));
        it = items.erase(it);
        ++*errors;
    }
    m_ui.setStatus(1, QStringLiteral("書庫のチェック中..."));
    bool diskError = false;
    if (target.fixed) {
        qint64 total = 0;
        for (const Item &item : items) {
            if (stop)
                break;
            total += m_setup.probe->expandedSize(*item.format);
        }
        if (availableBytes(target.folder) <= total) {
            log.writeLine(QStringLiteral("Disk Size Error"));
            ++*errors;
            diskError = true;
        }
        m_ui.setStatus(3, thousands(total) + QStringLiteral(" Bytes"));
    } else {
        m_ui.setStatus(3, QString());
    }
    if (items.empty()) {
        m_ui.setStatus(3, QString());
        diskError = false;
    }
    bool goOn = true;
    if (stop)
        goOn = false;
    else if (diskError)
        goOn = false;
    else if (*errors >= 1)
        goOn = m_ui.askYesNo(QStringLiteral("エラーが") + QString::number(*errors) + QStringLiteral("あります。\n解凍を続行しますか？"));
    return goOn;
}

int BatchRun::extractOne(const ArchiveFormat &archive, const QString &outputDir, const LoopSettings &settings,
                         bool *trueSuccess, QString *reason)
{
    *trueSuccess = false;
    ExtractionRequest request;
    request.archive = archive.path;
    request.outputDir = outputDir;
    // A path with a double quote reaches the component through plain-named
    // links; the questions still name the real paths.
    PlainNameLinks links;
    std::optional<ComponentCaller::ShowPathsAs> shownPaths;
    if (PlainNameLinks::needed(archive.path) || PlainNameLinks::needed(outputDir)) {
        QStringList volumes;
        for (const std::string &volume : volumeSetOf(localBytesOfPath(archive.path).toStdString()).paths)
            volumes << pathFromLocalBytes(QByteArray::fromStdString(volume));
        QString error;
        if (!localPathExists(outputDir))
            QDir().mkpath(outputDir);
        if (links.make(m_setup.myPath + QStringLiteral("tmp"), volumes, outputDir, &error)) {
            request.archive = links.archive();
            request.outputDir = links.outputDir();
            shownPaths.emplace([&links](const QString &path) { return links.realPath(path); });
        } else {
            qWarning("%s", qPrintable(error));
        }
    }
    request.overwrite = settings.overwrite;
    request.ignoreDirectories = settings.ignoreDirectories;
    request.zipBy7z = settings.zipBy7z;
    request.useUnace32 = settings.useUnace32;
    request.sfxKind = archive.formatInside();
    request.contentKind = archive.formatByContent();
    const ExtractionCall call = buildExtractionCall(request, availability());
    switch (call.kind) {
    case CallKind::Unsupported:
        *reason = QString::fromUtf8(kReasonUnsupported);
        if (!settings.errorSkip)
            m_ui.showMessage(QStringLiteral("対応していない形式のファイルです"), MessageIcon::Error);
        return -1;
    case CallKind::None:
        // A self-extractor in which no component found an archive lacks nothing.
        *reason = archive.isSelfExtractor() && archive.formatInside().isEmpty()
            ? QString::fromUtf8(kReasonNotSelfExtractor)
            : failureReason(kNotCalled);
        return -1;
    case CallKind::Refused:
        *reason = call.refusal;
        m_ui.setStatus(1, call.refusal);
        if (!settings.errorSkip)
            m_ui.showMessage(call.refusal, MessageIcon::Error);
        return -1;
    case CallKind::Component: {
        // OverWrite 0 overwrites without asking in every format, also in those
        // whose command line has no switch for it.
        std::optional<ComponentCaller::OverwriteWithoutAsking> withoutAsking;
        if (settings.overwrite == OverwritePolicy::Overwrite)
            withoutAsking.emplace();
        QString output;
        const int r = m_setup.caller->run(call.component, call.prefix, call.commandLine, nullptr, &output);
        *trueSuccess = r == 0;
        if (r != 0)
            *reason = failureReason(r);
        // Which program is missing is the component's to say.
        if (r == SALVO_E_MISSING_DECODER && !output.trimmed().isEmpty())
            *reason += QStringLiteral(" (") + output.trimmed().section(QLatin1Char('\n'), 0, 0) + QLatin1Char(')');
        return r;
    }
    case CallKind::AceV2: {
        const int r = m_setup.caller->aceV2Extract(archive.path, call.commandLine, outputDir);
        *trueSuccess = r == 0;
        if (r != 0)
            *reason = failureReason(r);
        return r;
    }
    case CallKind::Console: {
        // A console extractor has extracted its archive when it ended with 0 and
        // everything its listing names is there. Nothing checks the data it
        // wrote, so its archive is never deleted.
        const QStringList expected = expectedConsoleOutput(archive, outputDir, settings.ignoreDirectories);
        ProcessRunner runner;
        runner.linkCancel(&stop);
        if (!runner.runAndWait(call.commandLine) || runner.exitCode() != 0)
            return runner.exitCode() > 0 ? runner.exitCode() : -1;
        const bool complete = !expected.isEmpty()
            && std::all_of(expected.begin(), expected.end(), [](const QString &p) { return localPathExists(p); });
        return complete ? 0 : -1;
    }
    }
    return -1;
}

QStringList BatchRun::expectedConsoleOutput(const ArchiveFormat &archive, const QString &outputDir, bool flat)
{
    QStringList paths;
    for (const ListRow &row : m_setup.probe->listEntries(archive)) {
        QString name = row.name;
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        parts.removeAll(QStringLiteral("."));
        if (parts.isEmpty())
            continue;
        paths << outputDir + QLatin1Char('/') + (flat ? parts.last() : parts.join(QLatin1Char('/')));
    }
    return paths;
}

int BatchRun::extractionLoop(std::vector<Item> &items, RunTarget &target, RunOutcome &outcome)
{
    const Settings ini(m_setup.myPath);
    const bool dd = m_setup.launchMode == LaunchMode::DdMode;
    LoopSettings settings;
    settings.folderMode = ini.folderNameMode(m_setup.launchMode);
    // In the automatic folder mode the archive's tree is always kept.
    settings.ignoreDirectories = !dd && settings.folderMode != FolderNameMode::Automatic && ini.read(ini::kDirectory) != 0;
    settings.deleteAfter = ini.read(dd ? ini::kDdDeleteArchive : ini::kNormalDeleteArchive) != 0;
    settings.errorSkip = ini.read(ini::kErrorSkip) != 0;
    settings.overwrite = ini.overwritePolicy(m_setup.launchMode);
    settings.zipBy7z = zipBy7zFor(ini.read(ini::kUse7Zip), availability());
    settings.useUnace32 = ini.read(ini::kUseUnace32) != 0;
    m_setup.caller->setDecoderCount(ini.read(ini::kDecoderCount));

    const int n = static_cast<int>(items.size());
    if (n == 0) {
        m_ui.setStatus(1, QStringLiteral("ファイルがありません。"));
        m_ui.showMessage(QStringLiteral("ファイルがありません。"), MessageIcon::Information);
        return 0;
    }
    QElapsedTimer clock;
    clock.start();
    m_ui.setStatus(2, QStringLiteral("00:00:00"));
    m_ui.loopStarted();

    // The next few archives are looked at while one is extracted.
    ArchiveLookahead lookahead(*m_setup.probe, settings.folderMode == FolderNameMode::Automatic, settings.zipBy7z);
    int lookedAt = 0; // the items before this one have been handed to the lookahead
    int successes = 0, done = 0;

    // The bytes of the run's archives measure the progress of the whole queue;
    // the components tell how far the archive in hand has come.
    RunProgress progress;
    progress.count = n;
    std::vector<qint64> sizes(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        if (const std::optional<FileIdentity> file = regularFileIdentity(items[i].path))
            sizes[static_cast<size_t>(i)] = file->size;
        progress.queueSize += sizes[static_cast<size_t>(i)];
    }
    qint64 before = 0; // bytes of the archives before the one in hand
    const ComponentCaller::ProgressTo reporter([&](const ComponentCaller::Progress &p) {
        const qint64 own = sizes[static_cast<size_t>(progress.number - 1)];
        progress.entry = p.entry;
        progress.written = p.written;
        progress.archiveSize = p.archiveSize > 0 ? p.archiveSize : own;
        progress.archiveDone = std::clamp<qint64>(p.read, 0, progress.archiveSize);
        // A split archive counts in the queue as its first volume does.
        progress.queueDone = before
            + (progress.archiveSize > 0 ? qint64(double(own) * progress.archiveDone / progress.archiveSize) : 0);
        m_ui.runProgress(progress);
    });

    for (int i = 0; i < n; ++i) {
        if (stop) {
            outcome.stopped = true;
            break;
        }
        const QString &archive = items[i].path;
        std::optional<ArchiveLookahead::Answer> ahead = lookahead.take(archive);
        ++done;
        m_ui.setStatus(1, QString::number(i + 1) + QStringLiteral("個目(全体:") + QString::number(n)
                              + QStringLiteral("個)のファイルを解凍中"));
        m_ui.progress(i + 1, n, archive);
        if (i > 0)
            before += sizes[static_cast<size_t>(i - 1)];
        progress.number = i + 1;
        progress.entry.clear();
        progress.written = progress.archiveDone = 0;
        progress.archiveSize = sizes[static_cast<size_t>(i)];
        progress.queueDone = before;
        m_ui.runProgress(progress);
        // A failed archive stays in the queue, and the log says why it failed.
        if (!localPathExists(archive)) {
            logFailure(archive, QString::fromUtf8(kReasonMissingFile));
            if (!settings.errorSkip)
                m_ui.showMessage(QStringLiteral("存在しないファイルです。場所を確認してください。"), MessageIcon::Error);
            continue;
        }
        if (ahead)
            items[i].format = ahead->format;
        else if (!items[i].format)
            items[i].format = m_setup.probe->identify(archive);
        const ArchiveFormat &format = *items[i].format;
        if (format.byContent)
            log().writeLine(archive + QStringLiteral(" : 拡張子では形式が分からないため、内容から ") + format.formatByContent()
                            + QStringLiteral(" 書庫として扱いました"));
        FolderNameMode folderMode = settings.folderMode;
        if (ahead && ahead->multiRoot)
            folderMode = *ahead->multiRoot ? FolderNameMode::Always : FolderNameMode::Never;
        QString error;
        bool madeFolder = false;
        // The folder test reads the archive with the component that extracts it.
        const QString outputDir = outputFolderFor(readAsExtracted(format, settings.zipBy7z), target,
                                                  folderMode, *m_setup.probe, &error, &madeFolder);
        if (outputDir.isEmpty()) {
            logFailure(archive, error);
            m_ui.setStatus(1, error);
            if (!settings.errorSkip)
                m_ui.showMessage(error, MessageIcon::Error);
            continue;
        }
        // The archive (all its volumes) as it is before anything reads it: only
        // these very files may be deleted.
        std::vector<std::pair<QString, std::optional<FileIdentity>>> volumes;
        for (const std::string &volume : volumeSetOf(localBytesOfPath(archive).toStdString()).paths) {
            const QString path = pathFromLocalBytes(QByteArray::fromStdString(volume));
            volumes.emplace_back(path, regularFileIdentity(path));
        }
        const int lookUntil = std::min(n, i + 1 + ArchiveLookahead::kDepth);
        for (lookedAt = std::max(lookedAt, i + 1); lookedAt < lookUntil && !stop; ++lookedAt)
            lookahead.start(items[lookedAt].path, items[lookedAt].format);
        bool trueSuccess = false;
        QString reason;
        if (extractOne(format, outputDir, settings, &trueSuccess, &reason) != 0) {
            // A folder made for this archive alone goes again when nothing came
            // of it; one that was there before, or that holds anything, stays.
            if (madeFolder)
                removeEmptyLocalFolder(outputDir);
            if (stop) {
                // Stopped in the middle: the component took back what it wrote,
                // and the archive stays queued as one not reached.
                --done;
                outcome.stopped = true;
                break;
            }
            logFailure(archive, reason);
            continue;
        }
        ++successes;
        outcome.extracted.insert(items[i].position);
        m_ui.archiveExtracted(items[i].position);
        if (target.kind == TargetKind::BesideArchive && target.folderToOpen.isEmpty())
            target.folderToOpen = folderPart(archive);
        // Only an extraction the component reported whole lets the archive go,
        // and only while each file at its paths is still the one that was read.
        // A split archive goes with all its volumes, which were all read.
        if (settings.deleteAfter && trueSuccess) {
            for (const auto &[volume, before] : volumes) {
                if (before && regularFileIdentity(volume) == before)
                    removeLocalFile(volume);
                else
                    m_ui.setStatus(1, QStringLiteral("解凍中に書庫の場所にあるファイルが変わったため、削除しませんでした: ") + volume);
            }
        }
    }
    outcome.failureCount = done - successes;
    m_ui.loopFinished();
    m_ui.loopSummary(successes, outcome.failureCount, outcome.stopped);
    m_ui.setStatus(2, elapsedText(clock.elapsed()));
    QString text = outcome.stopped ? QString::number(done) + QStringLiteral("個のファイルを解凍して中止しました。")
                                   : QString::number(n) + QStringLiteral("個のファイルを解凍完了！");
    if (outcome.failureCount > 0)
        text += QStringLiteral("（うち") + QString::number(outcome.failureCount) + QStringLiteral("個は失敗）");
    m_ui.setStatus(1, text);
    return successes;
}

void BatchRun::completion(int successCount, int failureCount, bool stopped, const RunTarget &target)
{
    const Settings ini(m_setup.myPath);
    if (ini.read(ini::kMailUse) == 1 && availability().has(Component::Basp21)) {
        const QString answer = sendNotice(readMailSettings(ini), QStringLiteral("Extract"), successCount >= 1, stopped);
        if (!answer.isEmpty())
            m_ui.setStatus(1, answer);
    }
    const bool notice = ini.read(ini::kEndNotice) == 0;
    if (successCount < 1)
        return;
    if (ini.read(ini::kUseSound) != 0)
        m_ui.playSound(cutAtNul(ini.read(ini::kSoundFilePath)));
    if (ini.read(ini::kOpenFolder) != 0 && !target.folderToOpen.isEmpty()
        && (target.kind == TargetKind::FixedFolder
            || (target.kind == TargetKind::BesideArchive && successCount == 1))) {
        // Only a folder, by its whole name, and never a program in its place.
        ProcessRunner::openFolder(target.folderToOpen);
    }
    const QString doneText = QString::number(successCount)
        + (stopped ? QStringLiteral("個のファイルを解凍して中止しました。") : QStringLiteral("個のファイルを解凍完了！"));
    if (notice && failureCount > 0)
        offerLog(doneText, failureCount);
    else if (notice)
        m_ui.showMessage(doneText, MessageIcon::Information);
}

void BatchRun::offerLog(const QString &doneText, int failureCount)
{
    const QString text = doneText + QLatin1Char('\n') + QString::number(failureCount)
        + QStringLiteral("個のファイルは解凍できませんでした。\n理由はログに記録しました。ログを開きますか？");
    if (m_ui.askYesNo(text))
        ProcessRunner::openDocument(m_setup.myPath + QStringLiteral("Log.txt"));
}

} // namespace salvo
