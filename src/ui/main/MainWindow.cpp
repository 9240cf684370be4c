#include "MainWindow.h"

#include "MainMenus.h"
#include "QueueView.h"
#include "RunControl.h"
#include "StatusPanels.h"
#include "ViewerDocking.h"
#include "app/MainWindowState.h"
#include "app/QueueFiles.h"
#include "app/StringTable.h"
#include "app/WorkFolder.h"
#include "archivers/ArchiveProbe.h"
#include "archivers/ComponentCaller.h"
#include "salvo_version.h"
#include "settings/Settings.h"
#include "ui/progress/RunProgressView.h"
#include "ui/viewers/ContentViewer.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace salvo {
namespace {

constexpr int kExtractButtonTwips = 735;
constexpr int kArchiveButtonTwips = 455;

int twipsToPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

} // namespace

MainWindow::MainWindow(QString myPath, LaunchMode launchMode, QWidget *parent)
    : QMainWindow(parent), m_myPath(std::move(myPath)), m_launchMode(launchMode)
{
    // A DD-mode launch never saves the window's position or drop-downs.
    m_saveOnClose = launchMode != LaunchMode::DdMode;
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(windowTitleBase());
    m_status = new StatusPanels(m_myPath, this);
    setStatusBar(m_status->bar());
    m_run = new RunControl(m_myPath, launchMode, *m_status, this);
    m_queueView = new QueueView(m_queue, m_myPath, *m_run, [this] { return m_run->isRunning(); }, this);
    m_menus = new MainMenus(m_myPath, *m_run, this);
    m_docking = new ViewerDocking(this);
    buildWidgets();
    wireParts();
    resize(520, 380);
}

MainWindow::~MainWindow()
{
    // The viewer's listing uses the components: it ends before they go.
    delete m_viewer.data();
    // The run uses the components and the queue's snapshot; it ends before they go.
    m_run->stopAndJoin();
}

QString MainWindow::windowTitleBase() const
{
    return QStringLiteral("SalvoExtractor v") + QStringLiteral(SALVO_VERSION_TEXT);
}

void MainWindow::buildWidgets()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    m_queueView->list()->setParent(central);
    layout->addWidget(m_queueView->list(), 1);

    auto *row = new QHBoxLayout;
    auto *combos = new QVBoxLayout;
    auto combo = [central, combos](const char *name, const QStringList &items) {
        auto *box = new QComboBox(central);
        box->setObjectName(QLatin1String(name));
        box->addItems(items);
        combos->addWidget(box);
        return box;
    };
    targetPlaceBox = combo("cmbTargetPlace", targetPlaceTexts());
    archiveMethodBox = combo("cmbArcMethod", {QStringLiteral("LZH"), QStringLiteral("ZIP"), QStringLiteral("7z"),
                                              QStringLiteral("CAB"), QStringLiteral("TAR"), QStringLiteral("GZ"),
                                              QStringLiteral("BZ2")});
    archiveTypeBox = combo("cmbArcType", {QStringLiteral("ファイルごとに圧縮"), QStringLiteral("まとめて圧縮"),
                                          QStringLiteral("自己解凍形式")});
    combos->addStretch();
    row->addLayout(combos, 1);

    auto button = [central, row](const char *name) {
        auto *b = new QPushButton(central);
        b->setObjectName(QLatin1String(name));
        b->setMinimumWidth(90);
        row->addWidget(b, 0, Qt::AlignTop);
        return b;
    };
    startButton = button("Btn_Start");
    optionButton = button("Btn_Option");
    closeButton = button("Btn_Close");
    optionButton->installEventFilter(this);
    layout->addLayout(row);
    // During a run: how far it has come, just above the status bar.
    m_progressView = new RunProgressView(central);
    layout->addWidget(m_progressView);
    m_run->setProgressView(m_progressView);
    setCentralWidget(central);
}

void MainWindow::wireParts()
{
    connect(startButton, &QPushButton::clicked, this, &MainWindow::startRun);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_run, &RunControl::finished, this, &MainWindow::finishRun);
    connect(m_run, &RunControl::extracted, this, &MainWindow::removeExtracted);

    connect(m_queueView, &QueueView::activated, this, &MainWindow::openCurrentArchive);
    connect(m_queueView, &QueueView::startRequested, this, &MainWindow::startRun);
    connect(m_queueView, &QueueView::closeRequested, this, &QWidget::close);
    connect(m_queueView, &QueueView::optionsRequested, this, [this] {
        if (m_workingMode == WorkingMode::Extract)
            m_menus->actionExtractionOptions->trigger();
    });

    const MainMenus &menu = *m_menus;
    connect(menu.actionStart, &QAction::triggered, this, &MainWindow::startRun);
    connect(menu.actionQuit, &QAction::triggered, this, &QWidget::close);
    connect(menu.actionModeExtract, &QAction::triggered, this, [this] { applyWorkingMode(WorkingMode::Extract); });
    connect(menu.actionModeArchive, &QAction::triggered, this, [this] { applyWorkingMode(WorkingMode::Archive); });
    connect(menu.actionAddFiles, &QAction::triggered, m_queueView, &QueueView::chooseAndAddFiles);
    connect(menu.actionAddFolder, &QAction::triggered, m_queueView, &QueueView::chooseAndAddFolder);
    connect(menu.actionLoadList, &QAction::triggered, m_queueView, &QueueView::chooseAndLoadList);
    connect(menu.actionSaveList, &QAction::triggered, m_queueView, &QueueView::chooseAndSaveList);
    connect(menu.actionSort, &QAction::triggered, m_queueView, &QueueView::sortQueue);
    connect(menu.actionFilter, &QAction::triggered, this, [this] {
        if (!m_run->isRunning()) // the queue keeps its order while a run works through it
            m_menus->showQueueFilter(m_filter, m_queue);
        // A click flips the check mark by itself: it follows the filter instead.
        m_menus->actionFilter->setChecked(m_filter.isActive());
    });
    connect(menu.actionInstallComponents, &QAction::triggered, this,
            [this] { m_menus->installComponents(m_availability); });
    connect(menu.actionAbout, &QAction::triggered, this, [this] { m_menus->showAbout(m_caller.get()); });
    connect(menu.actionGeneralOptions, &QAction::triggered, this, [this] {
        if (m_menus->showGeneralOptions(m_availability))
            applyFontSize();
    });
    connect(menu.actionExtractionOptions, &QAction::triggered, this, [this] {
        m_menus->showExtractionOptions(static_cast<TargetPlace>(targetPlaceBox->currentIndex())
                                       == TargetPlace::UsualFolder);
        m_status->showFolderNameMode();
        m_status->showDirectoryMode();
    });
    connect(menu.actionArchiverOptions, &QAction::triggered, m_menus, &MainMenus::showArchiverOptions);
}

void MainWindow::startUp(const Availability &found, const QStringList &files)
{
    m_availability = found;
    m_caller = std::make_unique<ComponentCaller>(m_availability);
    m_probe = std::make_unique<ArchiveProbe>(*m_caller, m_myPath);
    m_caller->setOverwriteAsker([this](const QString &path) { return m_run->askOverwrite(path); });
    m_run->setComponents(m_caller.get(), m_probe.get());
    m_unzipResults.silence(m_availability);

    m_workingMode = WorkingMode::Extract;
    targetPlaceBox->setCurrentIndex(0);
    // A queue saved by the filter of an earlier process belongs to no filter now.
    discardFilterBackup(m_myPath);

    const Settings settings(m_myPath);
    switch (m_launchMode) {
    case LaunchMode::Normal:
        addPaths(files);
        if (settings.read(ini::kShowListViewer) == 1 && !m_queue.isEmpty()) {
            m_queueView->list()->setCurrentIndex(m_queue.index(0));
            openCurrentArchive();
        }
        break;
    case LaunchMode::DdMode:
        addPaths(files);
        // The run starts once the event loop runs, after the remaining steps.
        QTimer::singleShot(0, this, &MainWindow::startRun);
        break;
    case LaunchMode::DdModeSetting:
        hide();
        break;
    }

    m_status->showFolderNameMode();
    m_status->showDirectoryMode();
    applyFontSize();

    targetPlaceBox->setCurrentIndex(static_cast<int>(settings.storedTargetPlace()));
    auto select = [](QComboBox *combo, const QString &stored) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        combo->setCurrentIndex(comboIndexForText(items, stored));
    };
    select(archiveMethodBox, settings.read(ini::kArchiveMethod));
    select(archiveTypeBox, settings.read(ini::kArchiveType));

    m_menus->applyCaptions();
    closeButton->setText(caption(str::Quit));
    optionButton->setText(caption(str::Option));
    showStartCaption();

    WorkingMode mode = WorkingMode::Extract;
    if (m_launchMode == LaunchMode::Normal) {
        mode = startupWorkingMode(settings.startUpMode(), kArchiveModeOffered, [this] {
            return !m_queue.isEmpty() && m_probe->check(m_queue.at(0)) == kCheckOk;
        });
    }
    applyWorkingMode(mode);

    restoreWindowPlace(settings);
    m_menus->hideArchiveItems();
    makeWorkFolder(m_myPath);

    // A settings file that cannot be read is neither used nor ever rewritten:
    // say so once, after the texts of start-up.
    if (settings.file().isUnusable()) {
        const QString text = QStringLiteral("\"Salvo.ini\" を読み込めませんでした。既定の設定で動作し、設定は保存しません。");
        m_status->setText(1, text);
        qWarning("%s", qPrintable(text));
    }
}

void MainWindow::restoreWindowPlace(const Settings &settings)
{
    // The size of the last session (none stored: the window's own), then its
    // place; a place no screen shows any more (a monitor gone, a hand-edited
    // file) is brought back onto the screen.
    const QScreen *screen = QGuiApplication::screenAt(QPoint(settings.read(ini::kLeft) / kTwipsPerPixel,
                                                             settings.read(ini::kTop) / kTwipsPerPixel));
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 32767, 32767);
    const int width = settings.read(ini::kWidth) / kTwipsPerPixel;
    const int height = settings.read(ini::kHeight) / kTwipsPerPixel;
    if (width > 0 && height > 0) {
        const QSize least = minimumSizeHint();
        resize(qBound(least.width(), width, qMax(least.width(), room.width())),
               qBound(least.height(), height, qMax(least.height(), room.height())));
    }
    move(settings.read(ini::kLeft) / kTwipsPerPixel, settings.read(ini::kTop) / kTwipsPerPixel);
    keepOnScreen();
}

void MainWindow::keepOnScreen()
{
    const QRect frame = frameGeometry();
    const QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = QGuiApplication::screenAt(frame.topLeft());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    const QPoint place(qBound(room.x(), frame.x(), qMax(room.x(), room.x() + room.width() - frame.width())),
                       qBound(room.y(), frame.y(), qMax(room.y(), room.y() + room.height() - frame.height())));
    if (place != frame.topLeft())
        move(place);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The window's frame is known once it is shown: it too stays on the screen.
    if (!m_shownOnce) {
        m_shownOnce = true;
        QTimer::singleShot(0, this, &MainWindow::keepOnScreen);
    }
}

void MainWindow::showStartCaption()
{
    startButton->setText(caption(m_workingMode == WorkingMode::Archive ? str::StartArchive : str::StartExtract));
}

void MainWindow::applyWorkingMode(WorkingMode mode)
{
    m_workingMode = mode;
    if (mode == WorkingMode::Unset)
        return;
    const bool extract = mode == WorkingMode::Extract;
    setWindowTitle(windowTitleBase());
    showStartCaption();
    for (QComboBox *combo : {archiveMethodBox, archiveTypeBox}) {
        combo->setEnabled(!extract);
        combo->setBackgroundRole(extract ? QPalette::Button : QPalette::Base);
        combo->setVisible(!extract);
    }
    m_menus->showWorkingMode(mode);
    const int height = twipsToPixels(extract ? kExtractButtonTwips : kArchiveButtonTwips);
    closeButton->setFixedHeight(height);
    startButton->setFixedHeight(height);
}

AddResult MainWindow::addPaths(const QStringList &paths)
{
    return m_queueView->addPaths(paths);
}

void MainWindow::receiveHandoff(const QStringList &paths)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!paths.isEmpty())
        addPaths(paths);
    QApplication::restoreOverrideCursor();
    if (m_launchMode == LaunchMode::Normal) {
        if (isMinimized())
            showNormal();
        show();
        raise();
        activateWindow();
    }
}

void MainWindow::startRun()
{
    if (m_run->isRunning()) {
        // The button is the stop button while a run goes.
        m_run->stop();
        startButton->setEnabled(false);
        return;
    }
    if (m_workingMode != WorkingMode::Extract) {
        if (m_launchMode == LaunchMode::DdMode)
            finishRun(RunOutcome{});
        return;
    }
    startButton->setText(QStringLiteral("中止(&S)"));
    m_removedThisRun.clear();
    m_run->start(m_queue.entries(), static_cast<TargetPlace>(targetPlaceBox->currentIndex()));
}

void MainWindow::removeExtracted(int position)
{
    // While a run goes the queue only grows at its end, so the row of a
    // snapshot position moves up by the rows of the run removed before it.
    if (!m_removedThisRun.insert(position).second)
        return;
    const int before = static_cast<int>(std::distance(m_removedThisRun.begin(), m_removedThisRun.find(position)));
    const int row = position - before;
    if (row < 0 || row >= m_queue.size())
        return;
    // The viewer never goes on showing an archive that was extracted (and
    // perhaps deleted) meanwhile.
    if (m_viewer && m_viewer->currentFile() == m_queue.at(row))
        m_viewer->close();
    // A filter released later must not bring back what was extracted meanwhile.
    m_filter.noteExtracted({m_queue.at(row)});
    m_queue.removeRowsAt({row});
}

void MainWindow::finishRun(const RunOutcome &outcome)
{
    // Each extracted archive has left the queue as it was done; failed ones,
    // those not reached and files added meanwhile stay.
    for (int position : outcome.extracted)
        removeExtracted(position);
    // A run that got past its target closes the viewer: what it listed may
    // have been extracted, deleted or replaced.
    if (outcome.began && m_viewer)
        m_viewer->close();
    startButton->setEnabled(true);
    showStartCaption();
    emit runFinished(outcome.successCount);
    if (m_launchMode == LaunchMode::DdMode) {
        // The DD-mode launch ends with its run: the zip component's setting goes
        // back and nothing of the window's state is saved.
        m_unzipResults.restore();
        endWithoutSaving();
        return;
    }
    if (m_closeAfterRun)
        close();
}

void MainWindow::openCurrentArchive()
{
    const QString path = m_queueView->currentPath();
    if (!isViewableArchive(path) || !m_probe) {
        m_status->setText(2, QString());
        m_status->setText(3, QString());
        return;
    }
    if (!m_viewer) {
        m_viewer = new ContentViewer(m_myPath, *m_caller, *m_probe, *m_run, this);
        m_viewer->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_viewer, &ContentViewer::measured, this, [this](qint32 count, qint64 size) {
            m_status->setText(2, QString::number(count) + QStringLiteral("個"));
            m_status->setText(3, thousands(size) + QStringLiteral("Bytes"));
        });
        m_docking->attach(m_viewer);
        m_viewer->show();
    }
    // Read in the background; the count and size follow the rows.
    m_status->setText(2, QString());
    m_status->setText(3, QString());
    m_viewer->showArchive(path);
}

ContentViewer *MainWindow::viewer() const
{
    return m_viewer.data();
}

void MainWindow::endForTermination()
{
    if (m_run->isRunning()) {
        // finishRun closes the window once the run has let go of its archive.
        m_closeAfterRun = true;
        m_run->abandon();
        return;
    }
    close();
}

QString MainWindow::statusText(int panel) const
{
    return m_status->text(panel);
}

void MainWindow::endWithoutSaving()
{
    m_saveOnClose = false;
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_run->isRunning()) {
        // A run in progress stops now (the archive in hand is given up and what
        // it wrote removed); the window closes as soon as it has.
        m_closeAfterRun = true;
        m_run->stop();
        event->ignore();
        return;
    }
    if (m_saveOnClose)
        shutDown();
    event->accept();
    emit closed();
}

void MainWindow::shutDown()
{
    if (m_shutDownDone)
        return;
    m_shutDownDone = true;
    const Settings settings(m_myPath);
    m_unzipResults.restore();
    settings.setStoredTargetPlace(static_cast<TargetPlace>(targetPlaceBox->currentIndex()));
    settings.write(ini::kArchiveMethod, archiveMethodBox->currentText());
    settings.write(ini::kArchiveType, archiveTypeBox->currentText());
    if (m_launchMode == LaunchMode::Normal)
        settings.setStartUpMode(m_workingMode);
    if (m_viewer)
        m_viewer->close();
    if (const auto left = savablePosition(x() * kTwipsPerPixel))
        settings.write(ini::kLeft, *left);
    if (const auto top = savablePosition(y() * kTwipsPerPixel))
        settings.write(ini::kTop, *top);
    if (const auto twips = savablePosition(width() * kTwipsPerPixel))
        settings.write(ini::kWidth, *twips);
    if (const auto twips = savablePosition(height() * kTwipsPerPixel))
        settings.write(ini::kHeight, *twips);
    emptyWorkFolder(m_myPath);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Releasing the left button over the option button pops up the options menu.
    if (watched == optionButton && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        m_menus->menuOptions->popup(optionButton->mapToGlobal(QPoint(0, optionButton->height())));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::applyFontSize()
{
    // "Large" is the large-font screen: its text is a quarter larger and it has
    // 12 twips to the pixel, which is how the status bar's 240 twips are meant.
    const bool large = Settings(m_myPath).read(ini::kFontSize) == 1;
    QFont font = QApplication::font();
    if (large)
        font.setPointSizeF(font.pointSizeF() * 1.25);
    setFont(font);
    m_status->bar()->setFixedHeight(large ? 240 / 12 : twipsToPixels(300));
}

} // namespace salvo
