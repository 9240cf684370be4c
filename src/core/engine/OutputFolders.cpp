#include "OutputFolders.h"

#include "archivers/ArchiveProbe.h"
#include "engine/RunUi.h"
#include "platform/KnownFolders.h"
#include "platform/LocalPath.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace salvo {

QString folderPart(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

qint64 availableBytes(const QString &folder)
{
    QString existing = QDir::cleanPath(folder);
    while (!existing.isEmpty() && !QFileInfo(existing).isDir())
        existing = folderPart(existing);
    if (existing.isEmpty())
        existing = QStringLiteral("/");
    const QStorageInfo storage(existing);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

RunTarget chooseRunTarget(const Settings &settings, LaunchMode launchMode, TargetPlace place,
                          const QStringList &queue, RunUi &ui)
{
    const bool dd = launchMode == LaunchMode::DdMode;
    RunTarget t;
    auto fixedAt = [&t](const QString &folder, TargetKind kind) {
        if (folder.trimmed().isEmpty() || QDir::isRelativePath(folder)) {
            t.cancelled = true;
            t.error = QStringLiteral("解凍先のフォルダが正しく設定されていません（絶対パスで指定してください）: \"")
                + folder + QStringLiteral("\"\n解凍は行いません。");
            return;
        }
        t.fixed = true;
        t.folder = folder;
        t.kind = kind;
        t.folderToOpen = folder;
    };
    switch (dd ? settings.ddTargetPlace() : place) {
    case TargetPlace::BesideArchive:
        t.kind = TargetKind::BesideArchive;
        // In DD mode the folder to open is that of the first archive extracted.
        if (!dd && !queue.isEmpty())
            t.folderToOpen = folderPart(queue.first());
        break;
    case TargetPlace::AskEachRun: {
        const QString answer = ui.askFolder(QStringLiteral("フォルダの選択"));
        if (answer.isEmpty())
            t.cancelled = true;
        else
            fixedAt(answer, TargetKind::FixedFolder);
        break;
    }
    case TargetPlace::UsualFolder:
        fixedAt(settings.usualFolder(launchMode), TargetKind::FixedFolder);
        break;
    case TargetPlace::Desktop:
        fixedAt(specialFolderPath(kDesktopFolder), TargetKind::Desktop);
        break;
    case TargetPlace::ProgramFiles:
        fixedAt(specialFolderPath(kProgramFilesFolder), TargetKind::FixedFolder);
        break;
    }
    return t;
}

QString archiveFolderName(const QString &archivePath)
{
    QString name = QFileInfo(archivePath).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        name += QLatin1Char('_');
    return name;
}

QString outputFolderFor(const ArchiveFormat &archive, const RunTarget &target, FolderNameMode mode,
                        ArchiveProbe &probe, QString *error, bool *made)
{
    if (made)
        *made = false;
    // The links in the target's path are the user's choice: they are resolved
    // here, so that the component gets a path whose last part is a real
    // folder (it never follows a link there).
    const QString base = resolvedLocalPath(target.fixed ? QDir::cleanPath(target.folder) : folderPart(archive.path));
    if (mode == FolderNameMode::Automatic)
        mode = probe.isMultiRoot(archive) ? FolderNameMode::Always : FolderNameMode::Never;
    if (mode != FolderNameMode::Always)
        return base;
    const QString folder = base + QLatin1Char('/') + archiveFolderName(archive.path);
    // Through the file system's own bytes: an archive name that is not UTF-8
    // names its folder with the same bytes. A link there (an earlier archive
    // of the run may have left one) would take the output elsewhere.
    if (isLocalSymlink(folder)) {
        *error = QStringLiteral("解凍先のフォルダがリンクのため解凍しません: ") + folder;
        return {};
    }
    const LocalFileKind kind = localFileKind(folder);
    if (kind == LocalFileKind::Directory)
        return folder;
    // One level only: the base folder must be there.
    if (kind != LocalFileKind::Missing || localFileKind(base) != LocalFileKind::Directory || !makeLocalFolder(folder)) {
        *error = QStringLiteral("解凍先のフォルダを作成できません: ") + folder;
        return {};
    }
    if (made)
        *made = true;
    return folder;
}

} // namespace salvo
