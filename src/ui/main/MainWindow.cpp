#include "MainWindow.h"

#include "app/MainWindowState.h"
#include "ui/progress/ProgressWindow.h"
#include "engine/BatchRun.h"
#include "salvo_archiver.h"
#include "app/ProjectLinks.h"
#include "app/QueueFiles.h"
#include "ui/about/AboutDialog.h"
#include "archivers/ArchiveInspector.h"
#include "archivers/ComponentCaller.h"
#include "engine/ProcessRunner.h"
#include "platform/ProgramFolder.h"
#include "ui/options/GeneralOptionsDialog.h"
#include "ui/options/ExtractionOptionsDialog.h"
#include "ui/viewers/QueueFilterDialog.h"
#include "app/StringTable.h"
#include "settings/Settings.h"
#include "settings/UserStore.h"
#include "salvo_version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QThread>
#include <QAudioOutput>
#include <QMediaPlayer>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace salvo {
namespace {

constexpr int kExtractButtonTwips = 735;
constexpr int kArchiveButtonTwips = 455;

const QString kShowResult = QStringLiteral("ShowResult");

int twipsToPixels(int twips)
{
    return twips / kTwipsPerPixel;
}

} // namespace

QStringList targetPlaceEntries()
{
    return {QStringLiteral("書庫のある場所"), QStringLiteral("自分で決定"), QStringLiteral("いつものところ"),
            QStringLiteral("デスクトップ"), QStringLiteral("Program\u3000Files")};
}

Form1::Form1(QString myPath, LaunchMode mode, QWidget *parent)
    : QMainWindow(parent), MyPath(std::move(myPath)), launchMode(mode)
{
    // A DD-mode launch never saves the window's position or drop-downs.
    m_saveOnClose = mode != LaunchMode::DdMode;
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(windowTitleBase());
    buildWidgets();
    buildMenus();
    resize(520, 380);
    openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    chooseFile = [this](const FileChoice &choice) {
        const std::unique_ptr<QFileDialog> dialog = makeFileDialog(choice, this);
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().constFirst();
    };
    ImageList1[1] = QPixmap(QStringLiteral(":/icons/make_folder.svg"));
    ImageList1[2] = QPixmap(QStringLiteral(":/icons/no_folder.svg"));
    ImageList1[3] = QPixmap(QStringLiteral(":/icons/keep_tree.svg"));
    ImageList1[4] = QPixmap(QStringLiteral(":/icons/flat.svg"));
    setAcceptDrops(true);
    List1->installEventFilter(this);
    List1->viewport()->installEventFilter(this);
    Btn_Option->installEventFilter(this);
    panels[3]->installEventFilter(this);
    panels[4]->installEventFilter(this);
    // The elapsed-time display ticks once a second while a run is in progress.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    Timer1->stop();
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    chooseFolder = [this](const QString &title) { return QFileDialog::getExistingDirectory(this, title); };
}

Form1::~Form1() = default;

QString Form1::windowTitleBase() const
{
    return QStringLiteral("SalvoExtractor v") + QStringLiteral(SALVO_VERSION_TEXT);
}

Settings Form1::settings() const
{
    return Settings(MyPath);
}

void Form1::buildWidgets()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);

    List1 = new QListView(central);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setModel(&m_queue);
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setUniformItemSizes(true);
    layout->addWidget(List1, 1);

    auto *row = new QHBoxLayout;
    auto *combos = new QVBoxLayout;
    cmbTargetPlace = new QComboBox(central);
    cmbTargetPlace->setObjectName(QStringLiteral("cmbTargetPlace"));
    cmbTargetPlace->addItems(targetPlaceEntries());
    cmbArcMethod = new QComboBox(central);
    cmbArcMethod->setObjectName(QStringLiteral("cmbArcMethod"));
    cmbArcMethod->addItems({QStringLiteral("LZH"), QStringLiteral("ZIP"), QStringLiteral("7z"),
                            QStringLiteral("CAB"), QStringLiteral("TAR"), QStringLiteral("GZ"),
                            QStringLiteral("BZ2")});
    cmbArcType = new QComboBox(central);
    cmbArcType->setObjectName(QStringLiteral("cmbArcType"));
    cmbArcType->addItems({QStringLiteral("ファイルごとに圧縮"), QStringLiteral("まとめて圧縮"),
                          QStringLiteral("自己解凍形式")});
    combos->addWidget(cmbTargetPlace);
    combos->addWidget(cmbArcMethod);
    combos->addWidget(cmbArcType);
    combos->addStretch();
    row->addLayout(combos, 1);

    Btn_Start = new QPushButton(central);
    Btn_Start->setObjectName(QStringLiteral("Btn_Start"));
    Btn_Option = new QPushButton(central);
    Btn_Option->setObjectName(QStringLiteral("Btn_Option"));
    Btn_Close = new QPushButton(central);
    Btn_Close->setObjectName(QStringLiteral("Btn_Close"));
    for (QPushButton *b : {Btn_Start, Btn_Option, Btn_Close}) {
        b->setMinimumWidth(90);
        row->addWidget(b, 0, Qt::AlignTop);
    }
    layout->addLayout(row);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    const int stretches[5] = {4, 1, 2, 0, 0};
    for (int i = 0; i < 5; ++i) {
        panels[i] = new QLabel(StatusBar1);
        panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        if (i >= 3)
            panels[i]->setFixedWidth(20); // the two toggle panels hold an icon each
        StatusBar1->addPermanentWidget(panels[i], stretches[i]);
    }
    setStatusBar(StatusBar1);

    connect(Btn_Start, &QPushButton::clicked, this, &Form1::Btn_Start_Click);
    connect(Btn_Close, &QPushButton::clicked, this, &QWidget::close);
    connect(List1, &QListView::doubleClicked, this, &Form1::List1_DblClick);
}

void Form1::buildMenus()
{
    auto action = [this](QMenu *menu, const char *name) {
        auto *a = menu->addAction(QString());
        a->setObjectName(QLatin1String(name));
        return a;
    };
    FileMenu = menuBar()->addMenu(QString());
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    MnuModeExtract = action(FileMenu, "MnuModeExtract");
    MnuModeArchive = action(FileMenu, "MnuModeArchive");
    MnuModeExtract->setCheckable(true);
    MnuModeArchive->setCheckable(true);
    MnuFileMinusF1 = FileMenu->addSeparator();
    MnuFileMinusF1->setObjectName(QStringLiteral("MnuFileMinusF1"));
    MnuStart = action(FileMenu, "MnuStart");
    MnuFileLoadFileList = action(FileMenu, "MnuFileLoadFileList");
    MnuFileSaveFileList = action(FileMenu, "MnuFileSaveFileList");
    MnuFiltering = action(FileMenu, "MnuFiltering");
    MnuSort = action(FileMenu, "MnuSort");
    FileMenu->addSeparator();
    MnuQuit = action(FileMenu, "MnuQuit");

    ToolMenu = menuBar()->addMenu(QString());
    ToolMenu->setObjectName(QStringLiteral("ToolMenu"));
    MnuDLLDown = action(ToolMenu, "MnuDLLDown");
    MnuErrorLog = action(ToolMenu, "MnuErrorLog");

    OptionMenu = menuBar()->addMenu(QString());
    OptionMenu->setObjectName(QStringLiteral("OptionMenu"));
    MnuOptGeneral = action(OptionMenu, "MnuOptGeneral");
    MnuOptExtract = action(OptionMenu, "MnuOptExtract");
    MnuOptArchive = action(OptionMenu, "MnuOptArchive");

    HelpMenu = menuBar()->addMenu(QString());
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    MnuHelp = action(HelpMenu, "MnuHelp");
    MnuOnlineHelp = action(HelpMenu, "MnuOnlineHelp");
    MnuAbout = action(HelpMenu, "MnuAbout");

    connect(MnuStart, &QAction::triggered, this, &Form1::Btn_Start_Click);
    connect(MnuQuit, &QAction::triggered, this, &QWidget::close);
    connect(MnuModeExtract, &QAction::triggered, this, [this] { ModeChange(QStringLiteral("Extract")); });
    connect(MnuModeArchive, &QAction::triggered, this, [this] { ModeChange(QStringLiteral("Archive")); });
    connect(MnuFileLoadFileList, &QAction::triggered, this, &Form1::MnuFileLoadFileList_Click);
    connect(MnuFileSaveFileList, &QAction::triggered, this, &Form1::MnuFileSaveFileList_Click);
    connect(MnuSort, &QAction::triggered, this, &Form1::MnuSort_Click);
    connect(MnuFiltering, &QAction::triggered, this, &Form1::MnuFiltering_Click);
    connect(MnuErrorLog, &QAction::triggered, this, &Form1::MnuErrorLog_Click);
    connect(MnuDLLDown, &QAction::triggered, this, &Form1::MnuDLLDown_Click);
    connect(MnuHelp, &QAction::triggered, this, &Form1::MnuHelp_Click);
    connect(MnuOnlineHelp, &QAction::triggered, this, &Form1::MnuOnlineHelp_Click);
    connect(MnuAbout, &QAction::triggered, this, &Form1::MnuAbout_Click);
    connect(MnuOptGeneral, &QAction::triggered, this, &Form1::MnuOptGeneral_Click);
    connect(MnuOptExtract, &QAction::triggered, this, &Form1::MnuOptExtract_Click);
}

void Form1::applyCaptions()
{
    FileMenu->setTitle(loadResString(str::kJapaneseBase + str::FileMenu));
    MnuQuit->setText(loadResString(str::kJapaneseBase + str::Quit));
    Btn_Close->setText(loadResString(str::kJapaneseBase + str::Quit));
    MnuModeExtract->setText(loadResString(str::kJapaneseBase + str::ModeExtract));
    MnuModeArchive->setText(loadResString(str::kJapaneseBase + str::ModeArchive));
    MnuStart->setText(loadResString(str::kJapaneseBase + str::Start));
    MnuFileLoadFileList->setText(loadResString(str::kJapaneseBase + str::LoadFileList));
    MnuFileSaveFileList->setText(loadResString(str::kJapaneseBase + str::SaveFileList));
    MnuFiltering->setText(loadResString(str::kJapaneseBase + str::Filtering));
    MnuSort->setText(loadResString(str::kJapaneseBase + str::Sort));
    ToolMenu->setTitle(loadResString(str::kJapaneseBase + str::ToolMenu));
    MnuDLLDown->setText(loadResString(str::kJapaneseBase + str::DllDown));
    OptionMenu->setTitle(loadResString(str::kJapaneseBase + str::OptionMenu));
    MnuOptGeneral->setText(loadResString(str::kJapaneseBase + str::OptGeneral));
    MnuOptExtract->setText(loadResString(str::kJapaneseBase + str::OptExtract));
    MnuOptArchive->setText(loadResString(str::kJapaneseBase + str::OptArchive));
    MnuErrorLog->setText(loadResString(str::kJapaneseBase + str::ErrorLog));
    HelpMenu->setTitle(loadResString(str::kJapaneseBase + str::HelpMenu));
    MnuHelp->setText(loadResString(str::kJapaneseBase + str::Help));
    MnuOnlineHelp->setText(loadResString(str::kJapaneseBase + str::OnlineHelp));
    MnuAbout->setText(loadResString(str::kJapaneseBase + str::About));
    Btn_Option->setText(loadResString(str::kJapaneseBase + str::Option));
    const bool extract = Slvo_MODE == QLatin1String("Extract");
    Btn_Start->setText(loadResString(str::kJapaneseBase + (extract ? str::StartExtract : str::StartArchive)));
}

void Form1::startUp(const Availability &found, const QString &fileList)
{
    availability = found;
    m_caller = std::make_unique<ComponentCaller>(availability);
    m_inspector = std::make_unique<ArchiveInspector>(*m_caller, MyPath);
    m_caller->setOverwriteAsker([this](const QString &path) { return askOverwrite(path); });

    // Keep the zip component from showing result windows of its own while the
    // program drives it; the user's value is put back at exit.
    if (availability.has(Component::UnZip32)) {
        const UserStore store;
        const qint32 showResult = store.readInt32(QLatin1String(kUnzip32SettingsKey), kShowResult).value_or(-1);
        if (showResult != 0) {
            UNZIP32_Status = showResult;
            store.writeInt32(QLatin1String(kUnzip32SettingsKey), kShowResult, 0);
        }
    }

    Slvo_MODE = QStringLiteral("Extract");
    IsListViewer = false;
    IsAdhesionMode = true;
    cmbTargetPlace->setCurrentIndex(0);

    const Settings ini = settings();
    switch (launchMode) {
    case LaunchMode::Normal:
        AddArchiveList(fileList);
        if (ini.read(ini::kShowListViewer) == 1 && !m_queue.isEmpty()) {
            List1->setCurrentIndex(m_queue.index(0));
            List1_DblClick();
        }
        break;
    case LaunchMode::DdMode:
        AddArchiveList(fileList);
        // The run starts once the event loop runs, after the remaining steps.
        QTimer::singleShot(0, this, &Form1::Btn_Start_Click);
        break;
    case LaunchMode::DdModeSetting:
        hide();
        break;
    }

    StBarPicMkFldr();
    StBarPicIgnrDir();
    StatusBar1->setFixedHeight(twipsToPixels(ini.read(ini::kFontSize) == 1 ? 240 : 300));

    cmbTargetPlace->setCurrentIndex(comboIndexForText(targetPlaceEntries(), ini.read(ini::kNormalTargetPlace)));
    auto select = [](QComboBox *combo, const QString &stored) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        combo->setCurrentIndex(comboIndexForText(items, stored));
    };
    select(cmbArcMethod, ini.read(ini::kArchiveMethod));
    select(cmbArcType, ini.read(ini::kArchiveType));

    applyCaptions();

    QString mode = QStringLiteral("Extract");
    if (launchMode == LaunchMode::Normal) {
        const bool firstIsArchive = !m_queue.isEmpty() && m_inspector->check(m_queue.at(0)) == kCheckOk;
        mode = startupWorkingMode(ini.read(ini::kSlvoStartUpMode), m_queue.isEmpty(), firstIsArchive);
    }
    ModeChange(mode);

    move(ini.read(ini::kLeft) / kTwipsPerPixel, ini.read(ini::kTop) / kTwipsPerPixel);
    MnuModeArchive->setVisible(false);
    MnuModeExtract->setVisible(false);
    MnuFileMinusF1->setVisible(false);
    MnuOptArchive->setVisible(false);

    QDir().mkpath(MyPath + QStringLiteral("tmp"));
}

void Form1::ModeChange(const QString &mode)
{
    Slvo_MODE = mode;
    const bool extract = mode == QLatin1String("Extract");
    if (!extract && mode != QLatin1String("Archive"))
        return;
    setWindowTitle(windowTitleBase());
    Btn_Start->setText(loadResString(str::kJapaneseBase + (extract ? str::StartExtract : str::StartArchive)));
    for (QComboBox *combo : {cmbArcMethod, cmbArcType}) {
        combo->setEnabled(!extract);
        combo->setBackgroundRole(extract ? QPalette::Button : QPalette::Base);
        combo->setVisible(!extract);
    }
    MnuModeExtract->setChecked(extract);
    MnuModeArchive->setChecked(!extract);
    const int height = twipsToPixels(extract ? kExtractButtonTwips : kArchiveButtonTwips);
    Btn_Close->setFixedHeight(height);
    Btn_Start->setFixedHeight(height);
}

void Form1::StBarPicMkFldr()
{
    const int value = settings().read(ini::kNormalFileNameFolder);
    QLabel *panel = panels[3];
    switch (value) {
    case 0:
        panel->clear();
        panel->setToolTip(QStringLiteral("自動モード"));
        break;
    case 1:
        panel->setPixmap(ImageList1[1]);
        panel->setToolTip(QStringLiteral("ファイル名でフォルダを作成する"));
        break;
    case 2:
        panel->setPixmap(ImageList1[2]);
        panel->setToolTip(QStringLiteral("ファイル名でフォルダを作成しない"));
        break;
    default:
        break; // other values leave the panel as it is
    }
}

void Form1::StBarPicIgnrDir()
{
    QLabel *panel = panels[4];
    if (settings().read(ini::kDirectory) == 1) {
        panel->setPixmap(ImageList1[4]);
        panel->setToolTip(QStringLiteral("書庫ファイル内のディレクトリを無視する"));
    } else {
        panel->setPixmap(ImageList1[3]);
        panel->setToolTip(QStringLiteral("書庫ファイル内のディレクトリを有効にする"));
    }
}

AddResult Form1::AddArchiveList(const QString &fileList)
{
    const AddResult result = m_queue.addArchiveList(fileList);
    QFile::remove(MyPath + QStringLiteral("original.lst"));
    reportAdded(result);
    return result;
}

void Form1::reportAdded(const AddResult &result)
{
    if (result.skipped > 0) {
        setStatus(1, QString::number(m_queue.size()) + QStringLiteral("ファイル登録済み(")
                         + QString::number(result.added) + QStringLiteral("追加、")
                         + QString::number(result.skipped) + QStringLiteral("件は見つからないため除外)"));
    }
}

void Form1::receiveHandoff(const QString &fileList)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!fileList.isEmpty())
        AddArchiveList(fileList);
    QApplication::restoreOverrideCursor();
    if (launchMode == LaunchMode::Normal) {
        if (isMinimized())
            showNormal();
        show();
        raise();
        activateWindow();
    }
}

void Form1::Btn_Start_Click()
{
    if (m_runThread) {
        // The button is the stop button while a run goes.
        m_run->stop = true;
        Btn_Start->setEnabled(false);
        return;
    }
    if (Slvo_MODE != QLatin1String("Extract")) {
        if (launchMode == LaunchMode::DdMode)
            finishRun(RunOutcome{});
        return;
    }
    const QStringList snapshot = m_queue.entries();
    m_run = std::make_unique<BatchRun>(
        RunSetup{MyPath, launchMode, cmbTargetPlace->currentIndex(), m_caller.get(), m_inspector.get()}, *this);
    Btn_Start->setText(QStringLiteral("中止(&S)"));
    auto outcome = std::make_shared<RunOutcome>();
    BatchRun *run = m_run.get();
    // The run works off the window's thread; what it shows comes back here.
    m_runThread = QThread::create([run, snapshot, outcome] { *outcome = run->run(snapshot); });
    connect(m_runThread, &QThread::finished, this, [this, outcome] { finishRun(*outcome); });
    m_runThread->start();
}

void Form1::finishRun(const RunOutcome &outcome)
{
    if (m_runThread) {
        m_runThread->wait();
        m_runThread->deleteLater();
        m_runThread = nullptr;
    }
    m_run.reset();
    flushPending();
    // Only what the run used up leaves the queue: files added meanwhile stay.
    m_queue.removeRowsAt(QList<int>(outcome.consumed.begin(), outcome.consumed.end()));
    Btn_Start->setEnabled(true);
    Btn_Start->setText(loadResString(str::kJapaneseBase + (Slvo_MODE == QLatin1String("Archive") ? str::StartArchive
                                                                                                : str::StartExtract)));
    if (m_progress)
        m_progress->hide();
    // A flush still on its way would show the progress window again.
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingProgress.reset();
    }
    emit runFinished(outcome.successCount);
    if (launchMode == LaunchMode::DdMode) {
        // The DD-mode launch ends with its run: the zip component's setting goes
        // back and nothing of the window's state is saved.
        if (availability.has(Component::UnZip32) && UNZIP32_Status && *UNZIP32_Status != 0
            && *UNZIP32_Status != -1) {
            UserStore().writeInt32(QLatin1String(kUnzip32SettingsKey), kShowResult, *UNZIP32_Status);
        }
        endWithoutSaving();
        return;
    }
    if (m_closeAfterRun)
        close();
}

void Form1::Timer1_Timer()
{
    setStatus(2, elapsedText(QDateTime::currentMSecsSinceEpoch() - m_runStartMs));
}

template <typename F>
void Form1::onWindowThread(F f)
{
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

template <typename F>
void Form1::postToWindow(F f)
{
    // What only updates the window does not hold the run up; the order stays.
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, f, Qt::QueuedConnection);
}

QString Form1::askFolder(const QString &title)
{
    QString answer;
    onWindowThread([&] { answer = chooseFolder(title); });
    return answer;
}

void Form1::loopStarted()
{
    postToWindow([this] {
        m_runStartMs = QDateTime::currentMSecsSinceEpoch();
        panels[1]->setText(QStringLiteral("00:00:00"));
        Timer1->start();
    });
}

void Form1::loopFinished()
{
    postToWindow([this] { Timer1->stop(); });
}

void Form1::progress(int number, int count, const QString &archive)
{
    if (launchMode != LaunchMode::DdMode)
        return;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pendingProgress = PendingProgress{number, count, archive};
    }
    scheduleFlush();
}

void Form1::scheduleFlush()
{
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        if (m_flushScheduled)
            return;
        m_flushScheduled = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { QTimer::singleShot(40, this, &Form1::flushPending); }, Qt::QueuedConnection);
}

void Form1::flushPending()
{
    QString texts[6];
    bool set[6] = {};
    std::optional<PendingProgress> progress;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        for (int i = 1; i <= 5; ++i) {
            texts[i] = m_pendingStatus[i];
            set[i] = m_pendingSet[i];
            m_pendingSet[i] = false;
        }
        progress.swap(m_pendingProgress);
        m_flushScheduled = false;
    }
    for (int i = 1; i <= 5; ++i) {
        if (set[i])
            panels[i - 1]->setText(texts[i]);
    }
    if (progress) {
        if (!m_progress) {
            m_progress = new ProgressWindow(this);
            connect(m_progress, &ProgressWindow::stopRequested, this, [this] {
                if (m_run)
                    m_run->stop = true;
            });
        }
        m_progress->showArchive(progress->number, progress->count, progress->archive);
    }
}

void Form1::playSound(const QString &file)
{
    onWindowThread([this, file] {
        if (file.isEmpty() || !QFileInfo::exists(file))
            return; // a missing sound is no error
        if (!m_player) {
            m_player = new QMediaPlayer(this);
            m_player->setAudioOutput(new QAudioOutput(m_player));
        }
        m_player->setSource(QUrl::fromLocalFile(file));
        m_player->play();
    });
}

int Form1::askOverwrite(const QString &path)
{
    int answer = SALVO_ANSWER_NO;
    onWindowThread([&] {
        QMessageBox box(QMessageBox::Question, QLatin1String(kMessageTitle),
                        path + QStringLiteral("\nは既にあります。上書きしますか？"),
                        QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll
                            | QMessageBox::Cancel,
                        isVisible() ? this : nullptr);
        switch (box.exec()) {
        case QMessageBox::Yes: answer = SALVO_ANSWER_YES; break;
        case QMessageBox::YesToAll: answer = SALVO_ANSWER_YES_TO_ALL; break;
        case QMessageBox::NoToAll: answer = SALVO_ANSWER_NO_TO_ALL; break;
        case QMessageBox::Cancel: answer = SALVO_ANSWER_CANCEL; break;
        default: answer = SALVO_ANSWER_NO; break;
        }
    });
    return answer;
}

void Form1::List1_DblClick()
{
    static const QStringList kArchiveKeys{"lzh", "zip", "cab", "gca", "rar", "7z", "yz1", "yz2",
                                          "yz2a6", "arj", "tar", "gz", "z", "bz2", "bza", "gza",
                                          "bel", "imp", "kty", "ace", "rk", "bh", "hki", "exe"};
    const QModelIndex current = List1->currentIndex();
    const QString path = current.isValid() ? m_queue.at(current.row()) : QString();
    if (path.isEmpty() || !kArchiveKeys.contains(path.section(QLatin1Char('.'), -1).toLower()) || !m_inspector) {
        setStatus(2, QString());
        setStatus(3, QString());
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ArchiveFormat format = m_inspector->identify(path);
    const qint32 count = m_inspector->entryCount(format);
    const qint64 size = m_inspector->expandedSize(format);
    QApplication::restoreOverrideCursor();
    setStatus(2, QString::number(count) + QStringLiteral("個"));
    setStatus(3, thousands(size) + QStringLiteral("Bytes"));
    // The content viewer opens here once it exists.
}

void Form1::showMessage(const QString &text, MessageIcon icon)
{
    if (QThread::currentThread() != thread()) {
        onWindowThread([&] { showMessage(text, icon); });
        return;
    }
    const QMessageBox::Icon boxIcon = icon == MessageIcon::Error ? QMessageBox::Critical
        : icon == MessageIcon::Warning                          ? QMessageBox::Warning
                                                                : QMessageBox::Information;
    QMessageBox box(boxIcon, QLatin1String(kMessageTitle), text, QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

bool Form1::askYesNo(const QString &text)
{
    if (QThread::currentThread() != thread()) {
        bool answer = false;
        onWindowThread([&] { answer = askYesNo(text); });
        return answer;
    }
    QMessageBox box(QMessageBox::Question, QLatin1String(kMessageTitle), text,
                    QMessageBox::Yes | QMessageBox::No, isVisible() ? this : nullptr);
    return box.exec() == QMessageBox::Yes;
}

void Form1::setStatus(int panel, const QString &text)
{
    if (QThread::currentThread() != thread()) {
        if (panel >= 1 && panel <= 5) {
            std::lock_guard<std::mutex> lock(m_pendingMutex);
            m_pendingStatus[panel] = text;
            m_pendingSet[panel] = true;
        }
        scheduleFlush();
        return;
    }
    if (panel >= 1 && panel <= 5)
        panels[panel - 1]->setText(text);
}

QString Form1::statusText(int panel) const
{
    return panel >= 1 && panel <= 5 ? panels[panel - 1]->text() : QString();
}

void Form1::endWithoutSaving()
{
    m_saveOnClose = false;
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_runThread) {
        // A run in progress stops after its current archive; the window closes then.
        m_closeAfterRun = true;
        m_run->stop = true;
        event->ignore();
        return;
    }
    if (m_saveOnClose)
        shutDown();
    event->accept();
    emit closed();
}

void Form1::shutDown()
{
    if (m_shutDownDone)
        return;
    m_shutDownDone = true;
    const Settings ini = settings();

    if (availability.has(Component::UnZip32) && UNZIP32_Status && *UNZIP32_Status != 0
        && *UNZIP32_Status != -1) {
        UserStore().writeInt32(QLatin1String(kUnzip32SettingsKey), kShowResult, *UNZIP32_Status);
    }
    ini.write(ini::kNormalTargetPlace, cmbTargetPlace->currentText());
    ini.write(ini::kArchiveMethod, cmbArcMethod->currentText());
    ini.write(ini::kArchiveType, cmbArcType->currentText());
    if (launchMode == LaunchMode::Normal)
        ini.write(ini::kSlvoStartUpMode, Slvo_MODE);

    if (const auto left = savablePosition(x() * kTwipsPerPixel))
        ini.write(ini::kLeft, *left);
    if (const auto top = savablePosition(y() * kTwipsPerPixel))
        ini.write(ini::kTop, *top);

    emptyTempFolder();
}

void Form1::emptyTempFolder()
{
    // Everything below "tmp" goes, whatever its permissions; the folder stays.
    // Links are removed as links, never followed.
    const QString tmp = MyPath + QStringLiteral("tmp");
    QDirIterator it(tmp, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.isDir() && !entry.isSymLink()) {
            QDir(entry.filePath()).removeRecursively();
        } else {
            if (!entry.isSymLink())
                QFile::setPermissions(entry.filePath(), QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(entry.filePath());
        }
    }
}

// --- Queue operations ----------------------------------------------------

void Form1::LoadFileList(const QString &path, const QString &mode)
{
    if (mode == QLatin1String("New"))
        m_queue.clear();
    QStringList entries;
    switch (loadFileList(path, &entries)) {
    case LoadStatus::Ok:
        m_queue.append(entries);
        break;
    case LoadStatus::TooLarge:
        showMessage(QStringLiteral("ファイルリストが大きすぎるため読み込めません。\n(%1 MB まで)")
                        .arg(kMaxListFileBytes / (1024 * 1024)),
                    MessageIcon::Error);
        break;
    case LoadStatus::CannotOpen:
        showMessage(QStringLiteral("ファイルリストを開けません。\n") + path, MessageIcon::Error);
        break;
    }
}

void Form1::SaveFileList(const QString &path)
{
    if (!saveFileList(path, m_queue.entries()))
        showMessage(QStringLiteral("ファイルリストを保存できません。\n") + path, MessageIcon::Error);
}

std::unique_ptr<QFileDialog> Form1::makeFileDialog(const FileChoice &choice, QWidget *parent)
{
    auto dialog = std::make_unique<QFileDialog>(parent, choice.title, choice.folder);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilters(choice.filters);
    if (choice.save) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    return dialog;
}

void Form1::MnuFileLoadFileList_Click()
{
    if (isRunning())
        return; // the queue keeps its order while a run works through it
    const QString file = chooseFile({QStringLiteral("ファイルを開く"), MyPath, listFileFilters(), false});
    if (file.isEmpty()) {
        setStatus(1, QStringLiteral("キャンセルしました。"));
        return;
    }
    LoadFileList(file, QStringLiteral("New"));
    setStatus(1, QStringLiteral("ファイルリストを読み込みました。"));
}

void Form1::MnuFileSaveFileList_Click()
{
    if (m_queue.isEmpty()) {
        showMessage(QStringLiteral("登録されているファイルがありません。\n中止します。"), MessageIcon::Information);
        setStatus(1, QStringLiteral("中止しました。"));
        return;
    }
    const QString file = chooseFile({QStringLiteral("ファイルを保存"), MyPath, listFileFilters(), true});
    if (file.isEmpty()) {
        setStatus(1, QStringLiteral("キャンセルしました。"));
        return;
    }
    SaveFileList(listFileNameWithExtension(file));
    setStatus(1, QStringLiteral("ファイルリストを保存しました。"));
}

void Form1::MnuSort_Click()
{
    if (isRunning())
        return; // the queue keeps its order while a run works through it
    if (m_queue.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    List1->setUpdatesEnabled(false);
    QStringList entries = m_queue.entries();
    sortQueueEntries(entries, settings().read(ini::kSort));
    m_queue.setEntries(entries);
    List1->setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();
}

void Form1::RemoveSelectedEntries()
{
    if (isRunning())
        return; // the queue keeps its order while a run works through it
    QList<int> rows;
    for (const QModelIndex &index : List1->selectionModel()->selectedIndexes())
        rows << index.row();
    List1->setUpdatesEnabled(false);
    m_queue.removeRowsAt(rows);
    List1->setUpdatesEnabled(true);
    setStatus(1, QString::number(m_queue.size()) + QStringLiteral("ファイル登録済み(") + QString::number(rows.size())
                     + QStringLiteral("消去)"));
}

void Form1::SelectAllEntries()
{
    List1->setUpdatesEnabled(false);
    List1->selectAll();
    List1->setUpdatesEnabled(true);
}

void Form1::dropPaths(const QStringList &paths, std::function<void()> done)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_scansRunning;
    auto found = std::make_shared<QStringList>();
    auto result = std::make_shared<AddResult>();
    // Large folders are scanned off the window's thread, so it keeps painting.
    QThread *scan = QThread::create([paths, found, result] {
        for (const QString &path : paths) {
            const AddResult one = collectPath(path, found.get());
            result->added += one.added;
            result->skipped += one.skipped;
        }
    });
    connect(scan, &QThread::finished, this, [this, scan, found, result, done] {
        scan->deleteLater();
        m_queue.append(*found);
        QFile::remove(MyPath + QStringLiteral("original.lst"));
        --m_scansRunning;
        QApplication::restoreOverrideCursor();
        QString text = QString::number(m_queue.size()) + QStringLiteral("ファイル登録済み(")
            + QString::number(result->added) + QStringLiteral("追加)");
        if (result->skipped > 0)
            text += QString::number(result->skipped) + QStringLiteral("件は見つからないため除外");
        setStatus(1, text);
        if (done)
            done();
    });
    scan->start();
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    if (!paths.isEmpty())
        dropPaths(paths);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == List1 && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (mods == (Qt::ControlModifier | Qt::AltModifier) && key->key() == Qt::Key_0) {
            showMessage(QStringLiteral("ｷﾀ━━━━━━(ﾟ∀ﾟ)━━━━━━!!"), MessageIcon::Information);
            return true;
        }
        if (mods == Qt::ControlModifier) {
            switch (key->key()) {
            case Qt::Key_A:
                SelectAllEntries();
                return true;
            case Qt::Key_E:
                Btn_Start_Click();
                return true;
            case Qt::Key_O:
                if (Slvo_MODE == QLatin1String("Extract"))
                    MnuOptExtract_Click();
                return true;
            case Qt::Key_Q:
                close();
                return true;
            default:
                break;
            }
        }
        if (mods == Qt::NoModifier && key->key() == Qt::Key_Delete) {
            RemoveSelectedEntries();
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (watched == List1->viewport() && mouse->button() == Qt::RightButton) {
            RemoveSelectedEntries();
            return true;
        }
        if (watched == Btn_Option && mouse->button() == Qt::LeftButton) {
            OptionMenu->popup(Btn_Option->mapToGlobal(QPoint(0, Btn_Option->height())));
            return true;
        }
        if ((watched == panels[3] || watched == panels[4]) && mouse->button() == Qt::LeftButton) {
            StatusBarPanelClick(watched == panels[3] ? 4 : 5);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::StatusBarPanelClick(int panel)
{
    const Settings ini = settings();
    if (panel == 4) {
        const int value = ini.read(ini::kNormalFileNameFolder);
        // 0 -> 1 -> 2 -> 0; any other value is written back as it is.
        const int next = (value >= 0 && value <= 2) ? (value + 1) % 3 : value;
        ini.write(ini::kNormalFileNameFolder, next);
        StBarPicMkFldr();
    } else if (panel == 5) {
        const int value = ini.read(ini::kDirectory);
        const int next = value == 0 ? 1 : value == 1 ? 0 : value;
        ini.write(ini::kDirectory, next);
        StBarPicIgnrDir();
    }
}

// --- Other menu items ------------------------------------------------------

void Form1::MnuErrorLog_Click()
{
    const QString log = MyPath + QStringLiteral("Log.txt");
    if (!QFileInfo::exists(log)) {
        showMessage(QStringLiteral("エラーログはまだありません。\n") + log, MessageIcon::Information);
        return;
    }
    if (!openUrl(QUrl::fromLocalFile(log)))
        showMessage(QStringLiteral("エラーログを開くプログラムが見つかりません。\n") + log, MessageIcon::Warning);
}

void Form1::MnuDLLDown_Click()
{
    const QString exeDir = withTrailingSlash(QCoreApplication::applicationDirPath());
    for (const QString &folder : {MyPath, exeDir}) {
        const QFileInfo caldix(folder + QStringLiteral("caldix"));
        if (caldix.isFile() && caldix.isExecutable()) {
            setEnabled(false);
            ProcessRunner runner;
            runner.runAndWait(quoteIfBlank(caldix.absoluteFilePath()));
            setEnabled(true);
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
    text += QStringLiteral("見つかったコンポーネント: ") + (found.isEmpty() ? QStringLiteral("なし") : found.join(QStringLiteral(", ")));
    text += QStringLiteral("\n見つからなかったコンポーネント: ") + missing.join(QStringLiteral(", "));
    text += QStringLiteral("\n\nコンポーネントは次のフォルダに置いてください (次回の起動から使えます):\n");
    text += componentSearchFolders(QCoreApplication::applicationDirPath()).join(QLatin1Char('\n'));
    showMessage(text, MessageIcon::Information);
}

QString Form1::manualPath() const
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {exeDir + QStringLiteral("/docs/manual/index.html"),
                                     exeDir + QStringLiteral("/../docs/manual/index.html"),
                                     QStringLiteral(SALVO_DOC_INSTALL_DIR "/manual/index.html")}) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

void Form1::MnuHelp_Click()
{
    const QString manual = manualPath();
    if (manual.isEmpty() || !openUrl(QUrl::fromLocalFile(manual)))
        showMessage(QStringLiteral("マニュアルを開けません。"), MessageIcon::Warning);
}

void Form1::MnuOnlineHelp_Click()
{
    openUrl(QUrl(QLatin1String(kOnlineManualPage)));
}

void Form1::MnuAbout_Click()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    AboutDialog about(QStringLiteral("SalvoExtractor"), m_caller.get(), this);
    QApplication::restoreOverrideCursor();
    about.exec();
}

void Form1::MnuOptGeneral_Click()
{
    GeneralOptionsDialog dialog(MyPath, this);
    dialog.exec();
}

void Form1::MnuOptExtract_Click()
{
    ExtractionOptionsDialog dialog(MyPath, this);
    dialog.exec();
    StBarPicMkFldr();
    StBarPicIgnrDir();
}

void Form1::MnuFiltering_Click()
{
    if (isRunning())
        return; // the queue keeps its order while a run works through it
    QueueFilterDialog dialog(this);
    dialog.exec();
}

} // namespace salvo
