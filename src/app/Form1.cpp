#include "Form1.h"

#include "app/MainWindowState.h"
#include "app/StringTable.h"
#include "app/settings/Settings.h"
#include "platform/UserStore.h"
#include "salvo_version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
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
    // The elapsed-time display ticks once a second while a run is in progress.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    Timer1->stop();
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
        // Nothing checks archives yet at this point of start-up, so the first
        // queued file counts as no readable archive and the stored mode holds.
        mode = startupWorkingMode(ini.read(ini::kSlvoStartUpMode), m_queue.isEmpty(), false);
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
        panel->setText(QStringLiteral("◆"));
        panel->setToolTip(QStringLiteral("ファイル名でフォルダを作成する"));
        break;
    case 2:
        panel->setText(QStringLiteral("◇"));
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
        panel->setText(QStringLiteral("■"));
        panel->setToolTip(QStringLiteral("書庫ファイル内のディレクトリを無視する"));
    } else {
        panel->setText(QStringLiteral("□"));
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
    if (launchMode == LaunchMode::DdMode) {
        // The DD-mode launch ends here: put the zip component's setting back and
        // leave without saving the window's state.
        if (availability.has(Component::UnZip32) && UNZIP32_Status && *UNZIP32_Status != 0
            && *UNZIP32_Status != -1) {
            UserStore().writeInt32(QLatin1String(kUnzip32SettingsKey), kShowResult, *UNZIP32_Status);
        }
        endWithoutSaving();
        return;
    }
    if (Slvo_MODE != QLatin1String("Extract"))
        return;
    setStatus(1, QStringLiteral("ファイルがありません。"));
}

void Form1::List1_DblClick()
{
    // Entry count and size come with the archive listing; until then the two
    // panels are cleared.
    setStatus(2, QString());
    setStatus(3, QString());
}

void Form1::showMessage(const QString &text, MessageIcon icon)
{
    const QMessageBox::Icon boxIcon = icon == MessageIcon::Error ? QMessageBox::Critical
        : icon == MessageIcon::Warning                          ? QMessageBox::Warning
                                                                : QMessageBox::Information;
    QMessageBox box(boxIcon, QLatin1String(kMessageTitle), text, QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

bool Form1::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QLatin1String(kMessageTitle), text,
                    QMessageBox::Yes | QMessageBox::No, isVisible() ? this : nullptr);
    return box.exec() == QMessageBox::Yes;
}

void Form1::setStatus(int panel, const QString &text)
{
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
    QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_saveOnClose)
        shutDown();
    event->accept();
    QCoreApplication::exit(0);
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

} // namespace salvo
