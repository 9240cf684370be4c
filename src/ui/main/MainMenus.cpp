#include "MainMenus.h"

#include "app/QueueFilter.h"
#include "app/StringTable.h"
#include "archivers/Availability.h"
#include "engine/ProcessRunner.h"
#include "engine/RunUi.h"
#include "platform/ProgramFolder.h"
#include "salvo_version.h"
#include "ui/about/AboutDialog.h"
#include "ui/options/ArchiverOptionsDialog.h"
#include "ui/options/ExtractionOptionsDialog.h"
#include "ui/options/GeneralOptionsDialog.h"
#include "ui/viewers/QueueFilterDialog.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace salvo {

MainMenus::MainMenus(QString myPath, RunUi &ui, QMainWindow *window)
    : QObject(window), m_myPath(std::move(myPath)), m_ui(ui), m_window(window)
{
    auto menu = [window](const char *name) {
        QMenu *m = window->menuBar()->addMenu(QString());
        m->setObjectName(QLatin1String(name));
        return m;
    };
    auto action = [](QMenu *m, const char *name) {
        QAction *a = m->addAction(QString());
        a->setObjectName(QLatin1String(name));
        return a;
    };
    menuFile = menu("FileMenu");
    actionModeExtract = action(menuFile, "MnuModeExtract");
    actionModeArchive = action(menuFile, "MnuModeArchive");
    actionModeExtract->setCheckable(true);
    actionModeArchive->setCheckable(true);
    modeSeparator = menuFile->addSeparator();
    modeSeparator->setObjectName(QStringLiteral("MnuFileMinusF1"));
    // Archives can be added without drag and drop, too.
    actionAddFiles = action(menuFile, "MnuAddFiles");
    actionAddFolder = action(menuFile, "MnuAddFolder");
    actionAddFiles->setText(QStringLiteral("ファイルを追加..."));
    actionAddFolder->setText(QStringLiteral("フォルダを追加..."));
    menuFile->addSeparator();
    actionStart = action(menuFile, "MnuStart");
    actionLoadList = action(menuFile, "MnuFileLoadFileList");
    actionSaveList = action(menuFile, "MnuFileSaveFileList");
    actionFilter = action(menuFile, "MnuFiltering");
    actionFilter->setCheckable(true);
    actionSort = action(menuFile, "MnuSort");
    menuFile->addSeparator();
    actionQuit = action(menuFile, "MnuQuit");

    menuTools = menu("ToolMenu");
    actionInstallComponents = action(menuTools, "MnuDLLDown");
    actionErrorLog = action(menuTools, "MnuErrorLog");

    menuOptions = menu("OptionMenu");
    actionGeneralOptions = action(menuOptions, "MnuOptGeneral");
    actionExtractionOptions = action(menuOptions, "MnuOptExtract");
    actionArchiverOptions = action(menuOptions, "MnuOptArchive");

    menuHelp = menu("HelpMenu");
    actionHelp = action(menuHelp, "MnuHelp");
    actionOnlineHelp = action(menuHelp, "MnuOnlineHelp");
    actionAbout = action(menuHelp, "MnuAbout");

    openUrl = [this](const QUrl &url, std::function<void()> failed) { openOnDesktop(url, this, std::move(failed)); };
    connect(actionErrorLog, &QAction::triggered, this, &MainMenus::showErrorLog);
    connect(actionHelp, &QAction::triggered, this, &MainMenus::showHelp);
    connect(actionOnlineHelp, &QAction::triggered, this, &MainMenus::showOnlineHelp);
}

void MainMenus::applyCaptions()
{
    menuFile->setTitle(caption(str::FileMenu));
    actionQuit->setText(caption(str::Quit));
    actionModeExtract->setText(caption(str::ModeExtract));
    actionModeArchive->setText(caption(str::ModeArchive));
    actionStart->setText(caption(str::Start));
    actionLoadList->setText(caption(str::LoadFileList));
    actionSaveList->setText(caption(str::SaveFileList));
    actionFilter->setText(caption(str::Filtering));
    actionSort->setText(caption(str::Sort));
    menuTools->setTitle(caption(str::ToolMenu));
    actionInstallComponents->setText(caption(str::DllDown));
    menuOptions->setTitle(caption(str::OptionMenu));
    actionGeneralOptions->setText(caption(str::OptGeneral));
    actionExtractionOptions->setText(caption(str::OptExtract));
    actionArchiverOptions->setText(caption(str::OptArchive));
    actionErrorLog->setText(caption(str::ErrorLog));
    menuHelp->setTitle(caption(str::HelpMenu));
    actionHelp->setText(caption(str::Help));
    actionOnlineHelp->setText(caption(str::OnlineHelp));
    actionAbout->setText(caption(str::About));
}

void MainMenus::showWorkingMode(WorkingMode mode)
{
    actionModeExtract->setChecked(mode == WorkingMode::Extract);
    actionModeArchive->setChecked(mode == WorkingMode::Archive);
}

void MainMenus::hideArchiveItems()
{
    for (QAction *a : {actionModeArchive, actionModeExtract, modeSeparator, actionArchiverOptions})
        a->setVisible(false);
}

void MainMenus::showErrorLog()
{
    const QString log = m_myPath + QStringLiteral("Log.txt");
    if (!QFileInfo::exists(log)) {
        m_ui.showMessage(QStringLiteral("エラーログはまだありません。\n") + log, MessageIcon::Information);
        return;
    }
    openOrSay(QUrl::fromLocalFile(log), QStringLiteral("エラーログを開くプログラムが見つかりません。\n") + log);
}

void MainMenus::openOrSay(const QUrl &url, const QString &failure)
{
    openUrl(url, [this, failure] { m_ui.showMessage(failure, MessageIcon::Warning); });
}

void MainMenus::installComponents(const Availability &availability)
{
    const QString exeDir = withTrailingSlash(QCoreApplication::applicationDirPath());
    for (const QString &folder : {m_myPath, exeDir}) {
        const QFileInfo caldix(folder + QStringLiteral("caldix"));
        if (caldix.isFile() && caldix.isExecutable()) {
            m_window->setEnabled(false);
            ProcessRunner().runAndWait(quoteIfBlank(caldix.absoluteFilePath()));
            m_window->setEnabled(true);
            return;
        }
    }
    // No installer: say what was looked for, what was found and where more go.
    QStringList found, missing;
    for (const ComponentInfo &info : componentTable()) {
        if (info.kind == SearchKind::BuiltIn)
            continue;
        (availability.has(info.id) ? found : missing) << QLatin1String(info.fileName);
    }
    QString text = QStringLiteral("コンポーネントのインストーラ (caldix) はありません。\n\n");
    text += QStringLiteral("見つかったコンポーネント: ")
        + (found.isEmpty() ? QStringLiteral("なし") : found.join(QStringLiteral(", ")));
    text += QStringLiteral("\n見つからなかったコンポーネント: ") + missing.join(QStringLiteral(", "));
    text += QStringLiteral("\n\nコンポーネントは次のフォルダに置いてください (次回の起動から使えます):\n");
    text += componentSearchFolders(QCoreApplication::applicationDirPath()).join(QLatin1Char('\n'));
    m_ui.showMessage(text, MessageIcon::Information);
}

void MainMenus::showHelp()
{
    const QString manual = installedManual();
    if (manual.isEmpty()) {
        m_ui.showMessage(QStringLiteral("マニュアルがインストールされていません。"), MessageIcon::Warning);
        return;
    }
    openOrSay(QUrl::fromLocalFile(manual),
              QStringLiteral("マニュアルを開くプログラム (ブラウザ) が見つかりません。\n") + manual);
}

void MainMenus::showOnlineHelp()
{
    // The program has no web page of its own: its manual is the one installed
    // with it.
    showHelp();
}

void MainMenus::showAbout(ComponentCaller *caller)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    AboutDialog about(QStringLiteral("SalvoExtractor"), caller, m_window);
    QApplication::restoreOverrideCursor();
    about.exec();
}

bool MainMenus::showGeneralOptions(const Availability &availability)
{
    GeneralOptionsDialog dialog(m_myPath, availability, m_window);
    return dialog.exec() == QDialog::Accepted;
}

void MainMenus::showExtractionOptions(bool usualFolderTarget)
{
    ExtractionOptionsDialog dialog(m_myPath, m_window);
    dialog.setNormalTargetIsUsualFolder(usualFolderTarget);
    dialog.exec();
}

void MainMenus::showArchiverOptions()
{
    ArchiverOptionsDialog dialog(m_myPath, m_window);
    dialog.exec();
}

void MainMenus::showQueueFilter(QueueFilter &filter, ArchiveQueue &queue)
{
    QueueFilterDialog dialog(m_myPath, filter, queue, m_window);
    dialog.exec();
}

} // namespace salvo
