// The main window under the offscreen platform: modes, keys, status-bar
// toggles, drag and drop, list-file dialogs and the menu items.
#include "ui/main/ElidingLabel.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainWindow.h"
#include "ui/main/QueueView.h"
#include "ui/main/RunControl.h"
#include "ui/main/StatusPanels.h"
#include "ui/main/ViewerDocking.h"
#include "ui/progress/ProgressWindow.h"
#include "ui/viewers/ContentViewer.h"
#include "engine/ProcessRunner.h"
#include "settings/ProfileFile.h"
#include "ui/viewers/QueueFilterDialog.h"
#include "settings/Settings.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/ModalWatcher.h"
#include "support/TestEnvironment.h"
#include "ui/Application.h"
#include "app/MainWindowState.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <map>
#include <vector>

#include <sys/stat.h>

using namespace salvo;
using namespace salvo::test;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    TempHome home;
    std::unique_ptr<MainWindow> window;
    QStringList opened;
    bool openerFails = false;

    MainWindowTest() { start(); }
    void start(LaunchMode mode = LaunchMode::Normal, const QStringList &files = {})
    {
        window = std::make_unique<MainWindow>(home.myPath(), mode);
        window->menus()->openUrl = [this](const QUrl &u, const std::function<void()> &failed) {
            opened << u.toString();
            if (openerFails)
                failed();
        };
        window->startUp(Availability{}, files);
        window->show();
    }
    Settings settings() { return Settings(home.myPath()); }
};

TEST_F(MainWindowTest, ModeChangeForEachText)
{
    window->applyWorkingMode(WorkingMode::Archive);
    EXPECT_EQ(window->workingMode(), WorkingMode::Archive);
    EXPECT_EQ(window->startButton->text(), QStringLiteral("圧縮(&S)"));
    EXPECT_TRUE(window->archiveMethodBox->isVisible());
    EXPECT_TRUE(window->archiveTypeBox->isEnabled());
    EXPECT_TRUE(window->menus()->actionModeArchive->isChecked());
    EXPECT_FALSE(window->menus()->actionModeExtract->isChecked());
    EXPECT_EQ(window->startButton->height(), 455 / 15);

    window->applyWorkingMode(WorkingMode::Unset);
    EXPECT_EQ(window->workingMode(), WorkingMode::Unset);
    EXPECT_EQ(window->startButton->text(), QStringLiteral("圧縮(&S)")); // the look stays

    window->applyWorkingMode(WorkingMode::Extract);
    EXPECT_EQ(window->startButton->text(), QStringLiteral("解凍(&S)"));
    EXPECT_FALSE(window->archiveMethodBox->isVisible());
    EXPECT_FALSE(window->archiveTypeBox->isEnabled());
    EXPECT_TRUE(window->menus()->actionModeExtract->isChecked());
    EXPECT_EQ(window->closeButton->height(), 735 / 15);
    EXPECT_EQ(window->windowTitle(), window->windowTitleBase());
    // The archive side is hidden from the menus.
    EXPECT_FALSE(window->menus()->actionModeArchive->isVisible());
    EXPECT_FALSE(window->menus()->actionArchiverOptions->isVisible());
    EXPECT_EQ(window->menus()->menuFile->title(), QStringLiteral("ファイル(&F)"));
}

TEST_F(MainWindowTest, AnyStoredStartUpModeStartsWhereStartWorks)
{
    // The mode menus are hidden: a window that started in any other mode could
    // never extract again, and would store that mode for the next start too.
    for (const char *stored : {"Archive", "garbage", "extract", ""}) {
        settings().write(ini::kSlvoStartUpMode, QString::fromLatin1(stored));
        start();
        EXPECT_EQ(window->workingMode(), WorkingMode::Extract) << stored;
        EXPECT_EQ(window->startButton->text(), QStringLiteral("解凍(&S)")) << stored;
        window->close();
        EXPECT_EQ(settings().read(ini::kSlvoStartUpMode), "Extract") << stored;
    }
}

TEST_F(MainWindowTest, StartUpQueuesOnlyRegularFiles)
{
    // A FIFO named like an archive would hold the window's thread for as long as
    // nobody writes to it, once anything opens it.
    writeFile(home.path("in/a.zip"), "PK");
    ASSERT_EQ(::mkfifo(home.path("in/pipe.zip").toLocal8Bit().constData(), 0600), 0);
    start(LaunchMode::Normal, {home.path("in/pipe.zip"), "/dev/null", home.path("in/a.zip")});
    EXPECT_EQ(window->queue().entries(), QStringList{home.path("in/a.zip")});
    EXPECT_EQ(window->statusText(1), QStringLiteral("1ファイル登録済み(1追加、2件は通常のファイルでないため除外)"));
}

TEST_F(MainWindowTest, StatusBarTogglesCycleAndKeepUnknownValues)
{
    EXPECT_EQ(window->statusPanels()->panel(4)->toolTip(), QStringLiteral("自動モード"));
    EXPECT_EQ(window->statusPanels()->panel(5)->toolTip(), QStringLiteral("書庫ファイル内のディレクトリを有効にする"));
    const char *tips[] = {"ファイル名でフォルダを作成する", "ファイル名でフォルダを作成しない", "自動モード"};
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(window->statusPanels()->panel(4), Qt::LeftButton);
        EXPECT_EQ(settings().read(ini::kNormalFileNameFolder), (i + 1) % 3);
        EXPECT_EQ(window->statusPanels()->panel(4)->toolTip(), QString::fromUtf8(tips[i]));
        // An icon for "make a folder" and "no folder"; none in the automatic mode.
        EXPECT_EQ(window->statusPanels()->panel(4)->pixmap().isNull(), i == 2) << i;
    }
    QTest::mouseClick(window->statusPanels()->panel(5), Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kDirectory), 1);
    EXPECT_EQ(window->statusPanels()->panel(5)->toolTip(), QStringLiteral("書庫ファイル内のディレクトリを無視する"));
    EXPECT_FALSE(window->statusPanels()->panel(5)->pixmap().isNull());
    QTest::mouseClick(window->statusPanels()->panel(5), Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kDirectory), 0);

    // A stored 7 is written back as it is and the panel keeps its look.
    QTest::mouseClick(window->statusPanels()->panel(4), Qt::LeftButton); // -> 1
    settings().write(ini::kNormalFileNameFolder, 7);
    QTest::mouseClick(window->statusPanels()->panel(4), Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kNormalFileNameFolder), 7);
    EXPECT_EQ(window->statusPanels()->panel(4)->toolTip(), QStringLiteral("ファイル名でフォルダを作成する"));
    settings().write(ini::kDirectory, 5);
    QTest::mouseClick(window->statusPanels()->panel(5), Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kDirectory), 5);
}

TEST_F(MainWindowTest, DropKeysAndRemoval)
{
    writeFile(home.path("in/tree/a.lzh"), "l");
    writeFile(home.path("in/tree/sub/b.zip"), "z");
    writeFile(home.path("in/c.rar"), "r");
    bool done = false;
    window->queueView()->dropPaths({home.path("in/tree"), home.path("in/c.rar"), home.path("in/gone.7z")}, [&] { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(window->queue().size(), 3);
    EXPECT_EQ(window->statusText(1), QStringLiteral("3ファイル登録済み(3追加、1件は見つからないため除外)"));

    window->queueView()->list()->setFocus();
    QTest::keyClick(window->queueView()->list(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window->queueView()->list()->selectionModel()->selectedIndexes().size(), 3);
    window->queueView()->list()->clearSelection();
    window->queueView()->list()->selectionModel()->select(window->queue().index(0), QItemSelectionModel::Select);
    QTest::keyClick(window->queueView()->list(), Qt::Key_Delete);
    EXPECT_EQ(window->queue().size(), 2);
    EXPECT_EQ(window->statusText(1), QStringLiteral("2ファイル登録済み(1消去)"));
    window->queueView()->list()->selectionModel()->select(window->queue().index(1), QItemSelectionModel::Select);
    QTest::mouseClick(window->queueView()->list()->viewport(), Qt::RightButton);
    EXPECT_EQ(window->queue().size(), 1);

    ModalWatcher box;
    box.arm();
    QTest::keyClick(window->queueView()->list(), Qt::Key_0, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(box.text, QStringLiteral("ｷﾀ━━━━━━(ﾟ∀ﾟ)━━━━━━!!"));
    EXPECT_EQ(box.title, "SalvoExtractor");

    // Ctrl+O opens the extraction options only in extract mode.
    ModalWatcher options;
    options.arm();
    QTest::keyClick(window->queueView()->list(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(options.title, QStringLiteral("Option-Extract-"));
    window->applyWorkingMode(WorkingMode::Archive);
    QTest::keyClick(window->queueView()->list(), Qt::Key_O, Qt::ControlModifier); // nothing opens, nothing blocks

    QTest::keyClick(window->queueView()->list(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, ListFileDialogsAndSorting)
{
    ModalWatcher empty;
    empty.arm();
    window->queueView()->chooseAndSaveList();
    EXPECT_EQ(empty.text, QStringLiteral("登録されているファイルがありません。\n中止します。"));
    EXPECT_EQ(window->statusText(1), QStringLiteral("中止しました。"));

    std::vector<QueueView::FileChoice> asked;
    QString answer;
    window->queueView()->chooseFiles = [&](const QueueView::FileChoice &c) {
        asked.push_back(c);
        return answer.isEmpty() ? QStringList() : QStringList{answer};
    };
    window->queue().append({"/z/b.lzh", "/a/c.zip"});
    answer = home.myPath() + "mylist";
    window->queueView()->chooseAndSaveList();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, QStringLiteral("ファイルを保存"));
    EXPECT_EQ(asked[0].folder, home.myPath());
    EXPECT_TRUE(asked[0].save);
    EXPECT_EQ(asked[0].filters.size(), 4);
    EXPECT_EQ(window->statusText(1), QStringLiteral("ファイルリストを保存しました。"));
    EXPECT_EQ(readFile(home.myPath() + "mylist.txt"), "/z/b.lzh\r\n/a/c.zip\r\n");

    settings().write(ini::kSort, 2);
    window->queueView()->sortQueue();
    EXPECT_EQ(window->queue().entries(), QStringList({"/z/b.lzh", "/a/c.zip"}));
    settings().write(ini::kSort, 1);
    window->queueView()->sortQueue();
    EXPECT_EQ(window->queue().entries(), QStringList({"/a/c.zip", "/z/b.lzh"}));

    answer = home.myPath() + "mylist.txt";
    window->queueView()->chooseAndLoadList();
    EXPECT_EQ(asked.back().title, QStringLiteral("ファイルを開く"));
    EXPECT_FALSE(asked.back().save);
    EXPECT_EQ(window->statusText(1), QStringLiteral("ファイルリストを読み込みました。"));
    EXPECT_EQ(window->queue().entries(), QStringList({"/z/b.lzh", "/a/c.zip"}));

    answer.clear();
    window->queueView()->chooseAndLoadList();
    EXPECT_EQ(window->statusText(1), QStringLiteral("キャンセルしました。"));
    EXPECT_EQ(window->queue().size(), 2);

    // A list that cannot be written or read says so, and the queue stays.
    answer = home.path("no/such/folder/list.txt");
    ModalWatcher cannotSave;
    cannotSave.arm();
    window->queueView()->chooseAndSaveList();
    EXPECT_TRUE(cannotSave.text.startsWith(QStringLiteral("ファイルリストを保存できません。")));
    EXPECT_EQ(window->statusText(1), QStringLiteral("ファイルリストを保存できませんでした。"));
    ModalWatcher cannotLoad;
    cannotLoad.arm();
    window->queueView()->chooseAndLoadList();
    EXPECT_TRUE(cannotLoad.text.startsWith(QStringLiteral("ファイルリストを開けません。")));
    EXPECT_EQ(window->statusText(1), QStringLiteral("ファイルリストを読み込めませんでした。"));
    EXPECT_EQ(window->queue().entries(), QStringList({"/z/b.lzh", "/a/c.zip"}));

    // The dialog built from such a request.
    const auto dialog = QueueView::makeFileDialog(asked[0], window.get());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("ファイルを保存"));
    EXPECT_EQ(dialog->nameFilters(), asked[0].filters);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
}

TEST_F(MainWindowTest, ARunInTheWindowKeepsWhatWasAddedMeanwhile)
{
    window = std::make_unique<MainWindow>(home.myPath(), LaunchMode::Normal);
    window->startUp(builtComponents(home.myPath()), {});
    settings().write(ini::kEndNotice, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    QStringList archives;
    for (int i = 0; i < 3; ++i) {
        archives << home.path(QStringLiteral("in/a%1.zip").arg(i));
        writeFile(archives.last(), writeArchive({{"f.txt", "x", EntryKind::File, {}}}, "zip"));
    }
    window->queue().append(archives);
    int finished = -1;
    QObject::connect(window.get(), &MainWindow::runFinished, [&](int n) { finished = n; });
    window->startRun();
    EXPECT_EQ(window->startButton->text(), QStringLiteral("中止(&S)"));
    window->queue().append({"/added/while/running.zip"});
    ASSERT_TRUE(waitUntil([&] { return finished >= 0; }));
    EXPECT_EQ(finished, 3);
    EXPECT_EQ(window->queue().entries(), QStringList({"/added/while/running.zip"}));
    EXPECT_EQ(window->statusText(1), QStringLiteral("3個のファイルを解凍完了！"));
    EXPECT_FALSE(window->runControl()->elapsedTimer()->isActive());
    EXPECT_EQ(window->startButton->text(), QStringLiteral("解凍(&S)"));
    EXPECT_TRUE(QFile::exists(home.path("in/a2/f.txt")));

    // Stop: the button stops the run after the archive in hand; the rest stays queued.
    window->queue().clear();
    QStringList many;
    for (int i = 0; i < 200; ++i) {
        many << home.path(QStringLiteral("many/m%1.zip").arg(i));
        writeFile(many.last(), writeArchive({{"f.txt", "x", EntryKind::File, {}}}, "zip"));
    }
    window->queue().append(many);
    finished = -1;
    window->startRun();
    window->startRun();
    ASSERT_TRUE(waitUntil([&] { return finished >= 0; }));
    EXPECT_GT(window->queue().size(), 0);
    EXPECT_EQ(window->queue().size() + finished, 200);
    EXPECT_TRUE(window->statusText(1).endsWith(QStringLiteral("個のファイルを解凍して中止しました。")));
}

TEST_F(MainWindowTest, ArchivesLeaveTheQueueAsTheyAreDoneAndADoubleClickNeverWaitsForTheRun)
{
    window = std::make_unique<MainWindow>(home.myPath(), LaunchMode::Normal);
    window->startUp(builtComponents(home.myPath()), {});
    settings().write(ini::kEndNotice, 1);
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kNormalOverWrite, 1); // ask before replacing
    settings().write(ini::kUseSound, 1);
    settings().write(ini::kSoundFilePath, home.path("done.wav"));
    writeFile(home.path("done.wav"), "RIFF");
    QStringList sounds;
    RunControl::soundStarter() = [&](const QString &file) {
        sounds << file;
        return true;
    };
    const auto file = [](const char *name, const QByteArray &data) { return Entry{name, data, EntryKind::File, {}}; };
    const QString first = home.path("in/first.zip"), asking = home.path("in/asking.zip"),
                  other = home.path("in/other.7z");
    writeFile(first, writeArchive({file("first.txt", "1")}, "zip"));
    writeFile(asking, writeArchive({file("exists.txt", "new")}, "zip"));
    writeFile(home.path("in/exists.txt"), "old");
    writeFile(other, writeArchive({file("a.bin", QByteArray(1000, 'a')), file("b.bin", QByteArray(24, 'b'))}, "7zip"));
    window->queue().append({first, asking, other});

    QStringList queueWhileAsked;
    bool measuredWhileAsked = false;
    ModalWatcher question;
    question.arm([&](QWidget *w) {
        // The run waits for this answer: the archive it has done is already gone
        // from the queue, and a double click is still answered.
        queueWhileAsked = window->queue().entries();
        window->queueView()->list()->setCurrentIndex(window->queue().index(1));
        window->openCurrentArchive();
        measuredWhileAsked = waitUntil([&] { return window->statusText(3) == QStringLiteral("1,024Bytes"); });
        static_cast<QMessageBox *>(w)->button(QMessageBox::No)->click();
    });
    int finished = -1;
    QObject::connect(window.get(), &MainWindow::runFinished, [&](int n) { finished = n; });
    window->startRun();
    ASSERT_TRUE(waitUntil([&] { return finished >= 0; }, 60000));
    EXPECT_EQ(question.text, home.path("in/exists.txt") + QStringLiteral("\nは既にあります。上書きしますか？"));
    EXPECT_EQ(queueWhileAsked, QStringList({asking, other}));
    EXPECT_TRUE(measuredWhileAsked);
    // The kept file failed the archive: it stays queued, the status bar counts it.
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(window->queue().entries(), QStringList({asking}));
    EXPECT_EQ(window->statusText(1), QStringLiteral("3個のファイルを解凍完了！（うち1個は失敗）"));
    EXPECT_EQ(readFile(home.path("in/exists.txt")), "old");
    // The completion sound is handed to its helper process.
    EXPECT_EQ(sounds, QStringList({home.path("done.wav")}));

    // Outside a run the double click answers through the event loop too.
    window->queue().append({other, home.path("in/notes.txt")});
    window->queueView()->list()->setCurrentIndex(window->queue().index(1));
    window->openCurrentArchive();
    EXPECT_EQ(window->statusText(2), "");
    ASSERT_TRUE(waitUntil([&] { return window->statusText(2) == QStringLiteral("2個"); }));
    EXPECT_EQ(window->statusText(3), QStringLiteral("1,024Bytes"));
    window->queueView()->list()->setCurrentIndex(window->queue().index(2));
    window->openCurrentArchive();
    EXPECT_EQ(window->statusText(2), "");
    EXPECT_EQ(window->statusText(3), "");
}

TEST_F(MainWindowTest, EndingTheProgramDuringARunLetsGoOfTheArchiveAndSavesTheWindow)
{
    window = std::make_unique<MainWindow>(home.myPath(), LaunchMode::Normal);
    window->startUp(builtComponents(home.myPath()), {});
    window->show();
    settings().write(ini::kEndNotice, 1);
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kNormalOverWrite, 1);
    const auto file = [](const char *name, const QByteArray &data) { return Entry{name, data, EntryKind::File, {}}; };
    const QString asking = home.path("in/asking.zip"), next = home.path("in/next.zip");
    writeFile(asking, writeArchive({file("written.txt", "new"), file("exists.txt", "new")}, "zip"));
    writeFile(next, writeArchive({file("next.txt", "new")}, "zip"));
    writeFile(home.path("in/exists.txt"), "old");
    window->queue().append({asking, next});
    bool closed = false;
    QObject::connect(window.get(), &MainWindow::closed, [&] { closed = true; });
    // The termination request comes while the run waits for an answer; the
    // question closes as every other window does then.
    ModalWatcher question;
    question.arm([&](QWidget *w) {
        window->endForTermination();
        w->close();
    });
    window->startRun();
    ASSERT_TRUE(waitUntil([&] { return closed; }, 60000));
    EXPECT_FALSE(window->runControl()->isRunning());
    // What the archive had written is gone, the next one was not begun, both stay queued.
    EXPECT_FALSE(QFile::exists(home.path("in/written.txt")));
    EXPECT_EQ(readFile(home.path("in/exists.txt")), "old");
    EXPECT_FALSE(QFile::exists(home.path("in/next.txt")));
    EXPECT_EQ(window->queue().entries(), QStringList({asking, next}));
    // The window saved its state on the way out, as its close box does.
    EXPECT_EQ(settings().read(ini::kArchiveMethod), "LZH");
    EXPECT_EQ(settings().startUpMode(), WorkingMode::Extract);
}

// An archive whose extraction takes a while (512 MiB of output), beside the
// archives of a test: while it is extracted, a staging folder is in `folder`.
struct LongArchive {
    QString path;
    explicit LongArchive(const QString &folder) : path(folder + "/big.bin.gz")
    {
        writeFile(path, longGzip(32));
    }
    static bool staging(const QString &folder)
    {
        return !QDir(folder).entryList({".salvo-staging-*"}, QDir::Dirs | QDir::Hidden).isEmpty();
    }
};

TEST_F(MainWindowTest, StopAndCloseGiveUpTheArchiveInHandAtOnce)
{
    window = std::make_unique<MainWindow>(home.myPath(), LaunchMode::Normal);
    window->startUp(builtComponents(home.myPath()), {});
    settings().write(ini::kEndNotice, 0);
    settings().write(ini::kNormalFileNameFolder, 2);
    settings().write(ini::kNormalDeleteArchive, 1);
    const QString in = home.path("in");
    const QString small = in + "/small.zip", after = in + "/after.zip";
    writeFile(small, writeArchive({{"small.txt", "s", EntryKind::File, {}}}, "zip"));
    const LongArchive big(in);
    writeFile(after, writeArchive({{"after.txt", "a", EntryKind::File, {}}}, "zip"));
    window->queue().append({small, big.path, after});
    // The viewer shows the first archive, which the run extracts and deletes.
    window->queueView()->list()->setCurrentIndex(window->queue().index(0));
    window->openCurrentArchive();
    ASSERT_TRUE(window->viewer());
    ModalWatcher notice;
    notice.arm();
    int finished = -1;
    QObject::connect(window.get(), &MainWindow::runFinished, [&](int n) { finished = n; });
    window->startRun();
    ASSERT_TRUE(waitUntil([&] { return LongArchive::staging(in); }, 60000));
    // Its archive is gone: the viewer no longer shows it. It is opened on the
    // next one, and the run's end closes it.
    EXPECT_TRUE(waitUntil([&] { return !window->viewer(); }));
    window->queueView()->list()->setCurrentIndex(window->queue().index(1));
    window->openCurrentArchive();
    window->startRun(); // the stop button
    ASSERT_TRUE(waitUntil([&] { return finished >= 0; }, 60000));
    EXPECT_FALSE(window->viewer() && window->viewer()->isVisible());
    EXPECT_EQ(finished, 1);
    // What the archive in hand wrote is gone; it and the one not reached stay queued.
    EXPECT_FALSE(QFile::exists(in + "/big.bin"));
    EXPECT_FALSE(LongArchive::staging(in));
    EXPECT_TRUE(QFile::exists(big.path));
    EXPECT_EQ(window->queue().entries(), QStringList({big.path, after}));
    EXPECT_FALSE(QFile::exists(in + "/after.txt"));
    EXPECT_EQ(window->statusText(1), QStringLiteral("1個のファイルを解凍して中止しました。"));
    EXPECT_EQ(notice.text, QStringLiteral("1個のファイルを解凍して中止しました。"));

    // Closing the window during a run waits only for the archive in hand to be given up.
    bool closed = false;
    QObject::connect(window.get(), &MainWindow::closed, [&] { closed = true; });
    window->startRun();
    ASSERT_TRUE(waitUntil([&] { return LongArchive::staging(in); }, 60000));
    window->close();
    ASSERT_TRUE(waitUntil([&] { return closed; }, 60000));
    EXPECT_FALSE(QFile::exists(in + "/big.bin"));
    EXPECT_FALSE(LongArchive::staging(in));
    EXPECT_EQ(window->queue().entries(), QStringList({big.path, after}));
}

TEST_F(MainWindowTest, EscapeOnTheDdModeProgressWindowStopsTheRunItShows)
{
    window = std::make_unique<MainWindow>(home.myPath(), LaunchMode::DdMode);
    settings().write(ini::kEndNotice, 1);
    settings().write(ini::kDdExtractMode, 2);
    settings().write(ini::kDdTargetPath, home.path("out"));
    settings().write(ini::kDdFileNameFolder, 2);
    writeFile(home.path("out/keep.txt"), "keep");
    const LongArchive big(home.path("in"));
    const QString after = home.path("in/after.zip");
    writeFile(after, writeArchive({{"after.txt", "a", EntryKind::File, {}}}, "zip"));
    bool closed = false;
    QObject::connect(window.get(), &MainWindow::closed, [&] { closed = true; });
    window->startUp(builtComponents(home.myPath()), {big.path, after});
    ASSERT_TRUE(waitUntil([&] { return LongArchive::staging(home.path("out")); }, 60000));
    ProgressWindow *progress = window->runControl()->progressWindow();
    ASSERT_TRUE(waitUntil([&] { return progress = window->runControl()->progressWindow(), progress && progress->isVisible(); }));
    // Escape and the close box ask the run to stop; the window stays to show it.
    QTest::keyClick(progress, Qt::Key_Escape);
    progress->close();
    EXPECT_TRUE(progress->isVisible());
    EXPECT_FALSE(progress->stopButton->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return closed; }, 60000));
    EXPECT_EQ(QDir(home.path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"keep.txt"}));
    EXPECT_TRUE(QFile::exists(big.path));
}

TEST_F(MainWindowTest, ASettingsFileThatCannotBeReadIsReportedOnceAndNeverRewritten)
{
    window.reset();
    QByteArray huge = "[GENERAL]\nLeft=1500\n";
    huge.append(QByteArray(ProfileFile::kMaxFileSize, ';'));
    writeFile(home.myPath() + "Salvo.ini", huge);
    start();
    EXPECT_EQ(window->statusText(1),
              QStringLiteral("\"Salvo.ini\" を読み込めませんでした。既定の設定で動作し、設定は保存しません。"));
    window->close();
    window.reset();
    EXPECT_TRUE(readFile(home.myPath() + "Salvo.ini") == huge);
}

TEST_F(MainWindowTest, HostileSettingsFilesNeverTakeTheProgramDown)
{
    // Values no dialog writes: extremes of int, numbers that overflow, enum
    // values out of range, NUL and bytes that are not UTF-8, very long texts,
    // relative and empty folders, a section header never closed. The window
    // starts, a run ends on its own (questions and notices are answered as
    // they come), and the window closes, whatever the file says.
    const std::vector<ini::IntKey> ints = {
        ini::kLeft, ini::kTop, ini::kWidth, ini::kHeight, ini::kFontSize, ini::kShowListViewer, ini::kSort, ini::kDirectory,
        ini::kErrorSkip, ini::kPreScan, ini::kOpenFolder, ini::kEndNotice, ini::kUse7Zip, ini::kUseUnace32,
        ini::kNormalFileNameFolder, ini::kNormalOverWrite, ini::kNormalDeleteArchive, ini::kViewAction,
        ini::kViewTargetPlace, ini::kMakeFolder4ListView};
    const std::vector<ini::TextKey> texts = {ini::kSlvoStartUpMode, ini::kNormalTargetPlace, ini::kAlwaysPath,
                                             ini::kSoundFilePath, ini::kArchiveMethod, ini::kArchiveType};
    const QList<QByteArray> intValues = {"-2147483648", "2147483647", "-1", "99", "99999999999999999999", "0x10",
                                         "", QByteArray("1\0002", 3), "\xff\xfe"};
    const QList<QByteArray> textValues = {QByteArray(100000, 'x'), "relative/folder", "", QByteArray("/a\0/b", 5),
                                          "\x82\xa0\xff", "../../.."};
    ProcessRunner::setDesktopOpener([](const QString &) { return true; });
    const ModalCloser answering;
    const QString archive = home.path("in/h.zip");
    const QByteArray zip = writeArchive({{"f.txt", "x", EntryKind::File, {}}}, "zip");
    for (int variant = 0; variant < intValues.size(); ++variant) {
        SCOPED_TRACE(variant);
        QByteArray file = "\xef\xbb\xbf[GENERAL\n";
        for (std::size_t i = 0; i < ints.size(); ++i)
            file += QByteArray("[") + ints[i].section + "]\n" + ints[i].name + "="
                + intValues[(variant + int(i)) % intValues.size()] + "\r\n";
        for (std::size_t i = 0; i < texts.size(); ++i)
            file += QByteArray("[") + texts[i].section + "]\r" + texts[i].name + "="
                + textValues[(variant + int(i)) % textValues.size()] + "\n=\n==\n[]\n";
        window.reset();
        writeFile(home.myPath() + "Salvo.ini", file);
        writeFile(archive, zip);
        window = std::make_unique<MainWindow>(home.myPath(), LaunchMode::Normal);
        window->startUp(builtComponents(home.myPath()), {archive});
        window->show();
        int finished = -1;
        QObject::connect(window.get(), &MainWindow::runFinished, [&](int n) { finished = n; });
        window->startRun();
        EXPECT_TRUE(waitUntil([&] { return finished >= 0; }));
        window->close();
        QCoreApplication::processEvents();
        window.reset();
    }
}

TEST_F(MainWindowTest, TheViewerStaysDockedToTheRightEdge)
{
    ViewerDocking &dock = *window->docking();
    EXPECT_FALSE(dock.isViewerOpen());
    EXPECT_TRUE(dock.isDocked());
    auto rightEdge = [&] { return window->frameGeometry().x() + window->frameGeometry().width(); };
    auto docked = [&](const QWidget &viewer) {
        return viewer.x() == rightEdge() && viewer.y() == window->frameGeometry().y();
    };
    QWidget viewer;
    viewer.resize(200, 100);
    viewer.show();
    dock.attach(&viewer);
    EXPECT_TRUE(dock.isViewerOpen());
    EXPECT_TRUE(docked(viewer));
    EXPECT_EQ(viewer.height(), window->height());

    window->move(window->x() + 40, window->y() + 30);
    ASSERT_TRUE(waitUntil([&] { return docked(viewer); }));

    // Dragged away the viewer undocks and stays where it is.
    viewer.move(viewer.x() + 300, viewer.y());
    ASSERT_TRUE(waitUntil([&] { return !dock.isDocked(); }));
    const QPoint away = viewer.pos();
    window->move(window->x() + 10, window->y());
    QApplication::processEvents();
    EXPECT_EQ(viewer.pos(), away);

    // Back within 100 twips of the edge it docks again, and the main window follows it.
    viewer.move(rightEdge() + 5, viewer.y() + 20);
    ASSERT_TRUE(waitUntil([&] { return dock.isDocked() && docked(viewer); }));
    viewer.close();
    EXPECT_FALSE(dock.isViewerOpen());
}

// However long a status text, the window keeps its width; the viewer opens
// where the screen has room for it; the window's size and place come back,
// on the screen.
TEST_F(MainWindowTest, WindowsStayOnTheScreen)
{
    const QRect screen = window->screen()->availableGeometry();
    QCoreApplication::processEvents();
    const int width = window->width();
    const QString reason = QStringLiteral("解凍に失敗しました: ") + QString(400, QChar(u'長'));
    window->runControl()->setStatus(1, reason);
    window->statusPanels()->setText(3, QString(300, 'x'));
    QCoreApplication::processEvents();
    EXPECT_EQ(window->width(), width);
    EXPECT_EQ(window->statusText(1), reason);
    auto *panel = qobject_cast<ElidingLabel *>(window->statusPanels()->panel(1));
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->shownText().endsWith(QChar(0x2026))) << panel->shownText().toStdString();
    EXPECT_LT(panel->shownText().size(), reason.size());

    // On the right half the viewer docks to the left edge; with room on
    // neither side it opens undocked, on the screen.
    ViewerDocking &dock = *window->docking();
    QWidget viewer;
    viewer.resize(200, 100);
    window->move(screen.right() - window->frameGeometry().width() - 10, screen.top() + 20);
    dock.attach(&viewer);
    viewer.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dock.isDockedLeft());
    EXPECT_TRUE(screen.contains(viewer.frameGeometry())) << viewer.x();
    EXPECT_EQ(viewer.frameGeometry().right() + 1, window->frameGeometry().left());
    window->move(window->x() - 30, window->y()); // the viewer follows on its side
    ASSERT_TRUE(waitUntil([&] { return viewer.frameGeometry().right() + 1 == window->frameGeometry().left(); }));
    dock.detach();
    viewer.resize(screen.width() - window->frameGeometry().width() / 2, 100);
    window->move(screen.left() + screen.width() / 4, screen.top());
    dock.attach(&viewer);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dock.isDocked());
    EXPECT_TRUE(screen.contains(viewer.frameGeometry()));
    viewer.close();

    // Size and place are kept; a place off every screen comes back onto it.
    window->resize(600, 420);
    window->move(screen.left() + 30, screen.top() + 40);
    window->close();
    EXPECT_EQ(settings().read(ini::kWidth), 600 * kTwipsPerPixel);
    EXPECT_EQ(settings().read(ini::kHeight), 420 * kTwipsPerPixel);
    start();
    EXPECT_EQ(window->size(), QSize(600, 420));
    EXPECT_EQ(window->pos(), QPoint(screen.left() + 30, screen.top() + 40));
    window->close();
    settings().write(ini::kLeft, 30000);
    settings().write(ini::kTop, -30000);
    start();
    QCoreApplication::processEvents();
    EXPECT_TRUE(screen.contains(window->frameGeometry())) << window->x() << "," << window->y();
}

TEST_F(MainWindowTest, QueueFilterThroughTheMenuAndItsCheckMark)
{
    // A queue saved by the filter of an earlier process is gone after start-up.
    const QString backup = home.myPath() + "original.lst";
    writeFile(backup, "/old/stale.zip\r\n");
    start();
    EXPECT_FALSE(QFile::exists(backup));

    writeFile(home.myPath() + "FilterName.hst", "abc\r\nold term\r\n");
    QStringList files;
    for (const char *name : {"a1.zip", "b.lzh", "c.zip", "d.rar"}) {
        writeFile(home.path("in/") + name, "x");
        files << home.path("in/") + name;
    }
    window->addPaths(files.mid(0, 3));
    QAction *item = window->menus()->actionFilter;
    EXPECT_FALSE(item->isChecked());

    QStringList history;
    bool releaseOffered = true;
    QString title;
    {
        ModalWatcher first; // gone before the next dialog, which may take the same address
        first.arm([&](QWidget *w) {
            auto *dialog = qobject_cast<QueueFilterDialog *>(w);
            ASSERT_NE(dialog, nullptr);
            for (int i = 0; i < dialog->nameBox->count(); ++i)
                history << dialog->nameBox->itemText(i);
            releaseOffered = dialog->releaseButton->isEnabled();
            dialog->extensionBox->setEditText("zip");
            dialog->applyButton->click();
        });
        item->trigger();
        title = first.title;
    }
    EXPECT_EQ(title, "Filtering");
    EXPECT_EQ(history, QStringList({"abc", "old term"}));
    EXPECT_FALSE(releaseOffered);
    EXPECT_EQ(window->queue().entries(), QStringList({files[0], files[2]}));
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(QFile::exists(backup));
    EXPECT_EQ(readFile(home.myPath() + "FilterExt.hst"), "zip\r\n");

    // An archive added while the filter is in force is not lost by release.
    window->addPaths({files[3]});
    EXPECT_TRUE(QFile::exists(backup));
    ModalWatcher second;
    second.arm([&](QWidget *w) {
        auto *dialog = qobject_cast<QueueFilterDialog *>(w);
        ASSERT_NE(dialog, nullptr);
        releaseOffered = dialog->releaseButton->isEnabled();
        dialog->releaseButton->click();
    });
    item->trigger();
    EXPECT_TRUE(releaseOffered);
    EXPECT_EQ(window->queue().entries(), files);
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(QFile::exists(backup));
}

TEST_F(MainWindowTest, MenuItemsOpenWhatTheySay)
{
    ModalWatcher noLog;
    noLog.arm();
    window->menus()->actionErrorLog->trigger();
    EXPECT_TRUE(noLog.text.startsWith(QStringLiteral("エラーログはまだありません。")));
    writeFile(home.myPath() + "Log.txt", "x");
    window->menus()->actionErrorLog->trigger();
    window->menus()->actionOnlineHelp->trigger();
    window->menus()->actionHelp->trigger();
    ASSERT_EQ(opened.size(), 3) << opened.join(" ").toStdString();
    EXPECT_TRUE(opened[0].endsWith("Log.txt"));
    // The online manual is the one installed with the program, never a made-up address.
    EXPECT_TRUE(opened[1].startsWith("file:///") && opened[1].endsWith("docs/manual/index.html")) << opened[1].toStdString();
    EXPECT_TRUE(opened[2].endsWith("docs/manual/index.html"));
    // Without a program that opens them, each says so.
    openerFails = true;
    for (QAction *item : {window->menus()->actionErrorLog, window->menus()->actionHelp, window->menus()->actionOnlineHelp}) {
        ModalWatcher failure;
        failure.arm();
        item->trigger();
        EXPECT_TRUE(failure.text.contains(QStringLiteral("が見つかりません"))) << failure.text.toStdString();
    }
    openerFails = false;

    ModalWatcher about;
    about.arm();
    window->menus()->actionAbout->trigger();
    EXPECT_EQ(about.title, QStringLiteral("SalvoExtractorのﾊﾞｰｼﾞｮﾝ情報"));

    ModalWatcher components;
    components.arm();
    window->menus()->actionInstallComponents->trigger();
    EXPECT_TRUE(components.text.contains("unlha32.so")) << components.text.toStdString();

    ModalWatcher general;
    general.arm();
    window->menus()->actionGeneralOptions->trigger();
    EXPECT_EQ(general.title, QStringLiteral("Option"));
    ModalWatcher filter;
    filter.arm();
    window->menus()->actionFilter->trigger();
    EXPECT_EQ(filter.title, QStringLiteral("Filtering"));

    // OK in the extraction options shows the new folder mode in the status bar.
    ModalWatcher extraction;
    extraction.arm([](QWidget *w) {
        w->findChild<QRadioButton *>("ExNormal_FileNameFolder_NoUse")->setChecked(true);
        w->findChild<QPushButton *>("Btn_OK")->click();
    });
    window->menus()->actionExtractionOptions->trigger();
    EXPECT_EQ(extraction.title, QStringLiteral("Option-Extract-"));
    EXPECT_EQ(settings().read(ini::kNormalFileNameFolder), 2);
    EXPECT_EQ(window->statusPanels()->panel(4)->toolTip(), QStringLiteral("ファイル名でフォルダを作成しない"));

    // The archiver item is hidden, yet opens its dialog when triggered.
    ModalWatcher archiver;
    archiver.arm();
    window->menus()->actionArchiverOptions->trigger();
    EXPECT_EQ(archiver.title, QStringLiteral("Option-Archive-"));
}

TEST_F(MainWindowTest, FilesAndFoldersAreAddedFromTheFileMenu)
{
    QLabel *hint = window->queueView()->emptyHint();
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), QStringLiteral("ここに書庫をドロップ…"));
    QStringList items;
    for (const QAction *a : window->menus()->menuFile->actions()) {
        if (a->isVisible() && !a->isSeparator())
            items << a->text();
    }
    EXPECT_EQ(items.mid(0, 2), QStringList({QStringLiteral("ファイルを追加..."), QStringLiteral("フォルダを追加...")}));

    for (const char *name : {"in/a.zip", "in/b.lzh", "in/sub/c.rar", "in/sub/deeper/d.7z"})
        writeFile(home.path(name), "x");
    std::vector<QueueView::FileChoice> asked;
    QStringList answer;
    window->queueView()->chooseFiles = [&](const QueueView::FileChoice &c) {
        asked.push_back(c);
        return answer;
    };
    answer = {home.path("in/a.zip"), home.path("in/b.lzh")};
    window->menus()->actionAddFiles->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->queue().size() == 2; }));
    EXPECT_TRUE(asked.back().many);
    EXPECT_FALSE(asked.back().folders);
    EXPECT_TRUE(asked.back().filters.first().contains("*.lzh"));
    EXPECT_FALSE(hint->isVisible());

    answer = {home.path("in/sub")};
    window->menus()->actionAddFolder->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->queue().size() == 4; }));
    EXPECT_TRUE(asked.back().folders);
    EXPECT_EQ(window->statusText(1), QStringLiteral("4ファイル登録済み(2追加)"));

    answer.clear(); // cancelled
    window->menus()->actionAddFiles->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->queue().size(), 4);
    window->queue().setEntries({});
    EXPECT_TRUE(hint->isVisible());
}

// A text of Qt's own left in English: a button or label text with Latin words
// and nothing else ("OK" is the same in Japanese).
bool isEnglish(QString text)
{
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    if (text.isEmpty() || text == QLatin1String("OK"))
        return false;
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}")));
}

QStringList englishTexts(QWidget *window)
{
    QStringList found;
    for (const QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
        if (b->isVisible() && isEnglish(b->text()))
            found << b->text();
    }
    for (const QLabel *l : window->findChildren<QLabel *>()) {
        if (l->isVisible() && isEnglish(l->text()))
            found << l->text();
    }
    return found;
}

TEST_F(MainWindowTest, EveryStockQuestionSpeaksJapanese)
{
    RunControl &run = *window->runControl();
    std::map<QString, QStringList> english;
    auto look = [&](const QString &what, const std::function<void()> &open) {
        ModalWatcher watcher;
        bool seen = false;
        watcher.arm([&](QWidget *w) {
            seen = true;
            english[what] = englishTexts(w);
            w->close();
        });
        open();
        EXPECT_TRUE(seen) << what.toStdString();
    };
    look("overwrite", [&] { run.askOverwrite(home.path("out/ファイル.txt")); });
    look("yes/no", [&] { run.askYesNo(QStringLiteral("続けますか？")); });
    look("message", [&] { run.showMessage(QStringLiteral("お知らせ"), MessageIcon::Information); });
    look("password", [&] {
        QString password;
        run.askPassword(home.path("鍵.zip"), false, &password);
    });
    look("folder", [&] { run.chooseFolder(QStringLiteral("フォルダの選択")); });
    window->queue().append({home.path("a.zip")});
    for (QAction *item : {window->menus()->actionLoadList, window->menus()->actionSaveList,
                          window->menus()->actionAddFiles, window->menus()->actionAddFolder})
        look(item->objectName(), [&] { item->trigger(); });
    for (const auto &[what, texts] : english)
        EXPECT_TRUE(texts.isEmpty()) << what.toStdString() << ": " << texts.join(" | ").toStdString();
    EXPECT_EQ(english.size(), 9u);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // As the program does: Qt's own texts in Japanese.
    if (!salvo::installQtTranslations(app))
        qWarning("qtbase_ja is not installed (scripts/setup-debian.sh installs qt6-translations-l10n)");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
