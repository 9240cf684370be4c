// The main window under the offscreen platform: modes, keys, status-bar
// toggles, drag and drop, list-file dialogs and the menu items.
#include "ui/main/MainWindow.h"
#include "settings/Settings.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace salvo;
using namespace salvo::test;

namespace {

// Answers the next modal window that opens: records its title, text and
// filters, then closes it (or hands it to `act`). Gives up after five seconds
// and never outlives its test.
struct ModalWatcher {
    struct State {
        QString title, text;
        QStringList filters;
        bool alive = true;
        int tries = 0;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    QString &title = state->title;
    QString &text = state->text;
    QStringList &filters = state->filters;

    ~ModalWatcher() { state->alive = false; }
    void arm(std::function<void(QWidget *)> act = {}) { poll(state, std::move(act)); }

private:
    static void poll(std::shared_ptr<State> st, std::function<void(QWidget *)> act, QWidget *handled = nullptr)
    {
        QTimer::singleShot(50, [st, act, handled] {
            if (!st->alive || ++st->tries > 100)
                return;
            QWidget *w = QApplication::activeModalWidget();
            if (!w || (handled && w != handled)) {
                if (!handled)
                    poll(st, act);
                return;
            }
            st->title = w->windowTitle();
            if (auto *box = qobject_cast<QMessageBox *>(w))
                st->text = box->text();
            if (auto *dialog = qobject_cast<QFileDialog *>(w))
                st->filters = dialog->nameFilters();
            if (act)
                act(w);
            else
                w->close();
            // A dialog still busy loading may ignore the first answer: try again.
            poll(st, act, w);
        });
    }
};

class FormTest : public ::testing::Test {
protected:
    TempHome home;
    std::unique_ptr<Form1> form;
    QStringList opened;

    FormTest() { start(); }
    void start(LaunchMode mode = LaunchMode::Normal, const QString &files = {})
    {
        form = std::make_unique<Form1>(home.myPath(), mode);
        form->openUrl = [this](const QUrl &u) {
            opened << u.toString();
            return true;
        };
        form->startUp(Availability{}, files);
        form->show();
    }
    Settings settings() { return Settings(home.myPath()); }
};

TEST_F(FormTest, ModeChangeForEachText)
{
    form->ModeChange("Archive");
    EXPECT_EQ(form->Slvo_MODE, "Archive");
    EXPECT_EQ(form->Btn_Start->text(), QStringLiteral("圧縮(&S)"));
    EXPECT_TRUE(form->cmbArcMethod->isVisible());
    EXPECT_TRUE(form->cmbArcType->isEnabled());
    EXPECT_TRUE(form->MnuModeArchive->isChecked());
    EXPECT_FALSE(form->MnuModeExtract->isChecked());
    EXPECT_EQ(form->Btn_Start->height(), 455 / 15);

    form->ModeChange("");
    EXPECT_EQ(form->Slvo_MODE, "");
    EXPECT_EQ(form->Btn_Start->text(), QStringLiteral("圧縮(&S)")); // the look stays

    form->ModeChange("Extract");
    EXPECT_EQ(form->Btn_Start->text(), QStringLiteral("解凍(&S)"));
    EXPECT_FALSE(form->cmbArcMethod->isVisible());
    EXPECT_FALSE(form->cmbArcType->isEnabled());
    EXPECT_TRUE(form->MnuModeExtract->isChecked());
    EXPECT_EQ(form->Btn_Close->height(), 735 / 15);
    EXPECT_EQ(form->windowTitle(), form->windowTitleBase());
    // The archive side is hidden from the menus.
    EXPECT_FALSE(form->MnuModeArchive->isVisible());
    EXPECT_FALSE(form->MnuOptArchive->isVisible());
    EXPECT_EQ(form->FileMenu->title(), QStringLiteral("ファイル(&F)"));
}

TEST_F(FormTest, StatusBarTogglesCycleAndKeepUnknownValues)
{
    EXPECT_EQ(form->panels[3]->toolTip(), QStringLiteral("自動モード"));
    EXPECT_EQ(form->panels[4]->toolTip(), QStringLiteral("書庫ファイル内のディレクトリを有効にする"));
    const char *tips[] = {"ファイル名でフォルダを作成する", "ファイル名でフォルダを作成しない", "自動モード"};
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(form->panels[3], Qt::LeftButton);
        EXPECT_EQ(settings().read(ini::kNormalFileNameFolder), (i + 1) % 3);
        EXPECT_EQ(form->panels[3]->toolTip(), QString::fromUtf8(tips[i]));
    }
    EXPECT_FALSE(form->panels[3]->pixmap().isNull() && false);
    QTest::mouseClick(form->panels[4], Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kDirectory), 1);
    EXPECT_EQ(form->panels[4]->toolTip(), QStringLiteral("書庫ファイル内のディレクトリを無視する"));
    EXPECT_FALSE(form->panels[4]->pixmap().isNull());
    QTest::mouseClick(form->panels[4], Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kDirectory), 0);

    // A stored 7 is written back as it is and the panel keeps its look.
    QTest::mouseClick(form->panels[3], Qt::LeftButton); // -> 1
    settings().write(ini::kNormalFileNameFolder, 7);
    QTest::mouseClick(form->panels[3], Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kNormalFileNameFolder), 7);
    EXPECT_EQ(form->panels[3]->toolTip(), QStringLiteral("ファイル名でフォルダを作成する"));
    settings().write(ini::kDirectory, 5);
    QTest::mouseClick(form->panels[4], Qt::LeftButton);
    EXPECT_EQ(settings().read(ini::kDirectory), 5);
}

TEST_F(FormTest, DropKeysAndRemoval)
{
    writeFile(home.path("in/tree/a.lzh"), "l");
    writeFile(home.path("in/tree/sub/b.zip"), "z");
    writeFile(home.path("in/c.rar"), "r");
    writeFile(home.myPath() + "original.lst", "old");
    bool done = false;
    form->dropPaths({home.path("in/tree"), home.path("in/c.rar"), home.path("in/gone.7z")}, [&] { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(form->queue().size(), 3);
    EXPECT_TRUE(form->statusText(1).startsWith(QStringLiteral("3ファイル登録済み(3追加)"))) << form->statusText(1).toStdString();
    EXPECT_FALSE(QFile::exists(home.myPath() + "original.lst"));

    form->List1->setFocus();
    QTest::keyClick(form->List1, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(form->List1->selectionModel()->selectedIndexes().size(), 3);
    form->List1->clearSelection();
    form->List1->selectionModel()->select(form->queue().index(0), QItemSelectionModel::Select);
    QTest::keyClick(form->List1, Qt::Key_Delete);
    EXPECT_EQ(form->queue().size(), 2);
    EXPECT_EQ(form->statusText(1), QStringLiteral("2ファイル登録済み(1消去)"));
    form->List1->selectionModel()->select(form->queue().index(1), QItemSelectionModel::Select);
    QTest::mouseClick(form->List1->viewport(), Qt::RightButton);
    EXPECT_EQ(form->queue().size(), 1);

    ModalWatcher box;
    box.arm();
    QTest::keyClick(form->List1, Qt::Key_0, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(box.text, QStringLiteral("ｷﾀ━━━━━━(ﾟ∀ﾟ)━━━━━━!!"));
    EXPECT_EQ(box.title, "SalvoExtractor");

    // Ctrl+O opens the extraction options only in extract mode.
    ModalWatcher options;
    options.arm();
    QTest::keyClick(form->List1, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(options.title, QStringLiteral("解凍設定"));
    form->ModeChange("Archive");
    QTest::keyClick(form->List1, Qt::Key_O, Qt::ControlModifier); // nothing opens, nothing blocks

    QTest::keyClick(form->List1, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(FormTest, ListFileDialogsAndSorting)
{
    ModalWatcher empty;
    empty.arm();
    form->MnuFileSaveFileList_Click();
    EXPECT_EQ(empty.text, QStringLiteral("登録されているファイルがありません。\n中止します。"));
    EXPECT_EQ(form->statusText(1), QStringLiteral("中止しました。"));

    std::vector<Form1::FileChoice> asked;
    QString answer;
    form->chooseFile = [&](const Form1::FileChoice &c) {
        asked.push_back(c);
        return answer;
    };
    form->queue().append({"/z/b.lzh", "/a/c.zip"});
    answer = home.myPath() + "mylist";
    form->MnuFileSaveFileList_Click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, QStringLiteral("ファイルを保存"));
    EXPECT_EQ(asked[0].folder, home.myPath());
    EXPECT_TRUE(asked[0].save);
    EXPECT_EQ(asked[0].filters.size(), 4);
    EXPECT_EQ(form->statusText(1), QStringLiteral("ファイルリストを保存しました。"));
    EXPECT_EQ(readFile(home.myPath() + "mylist.txt"), "/z/b.lzh\r\n/a/c.zip\r\n");

    settings().write(ini::kSort, 2);
    form->MnuSort_Click();
    EXPECT_EQ(form->queue().entries(), QStringList({"/z/b.lzh", "/a/c.zip"}));
    settings().write(ini::kSort, 1);
    form->MnuSort_Click();
    EXPECT_EQ(form->queue().entries(), QStringList({"/a/c.zip", "/z/b.lzh"}));

    answer = home.myPath() + "mylist.txt";
    form->MnuFileLoadFileList_Click();
    EXPECT_EQ(asked.back().title, QStringLiteral("ファイルを開く"));
    EXPECT_FALSE(asked.back().save);
    EXPECT_EQ(form->statusText(1), QStringLiteral("ファイルリストを読み込みました。"));
    EXPECT_EQ(form->queue().entries(), QStringList({"/z/b.lzh", "/a/c.zip"}));

    answer.clear();
    form->MnuFileLoadFileList_Click();
    EXPECT_EQ(form->statusText(1), QStringLiteral("キャンセルしました。"));
    EXPECT_EQ(form->queue().size(), 2);

    // The dialog built from such a request.
    const auto dialog = Form1::makeFileDialog(asked[0], form.get());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("ファイルを保存"));
    EXPECT_EQ(dialog->nameFilters(), asked[0].filters);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
}

TEST_F(FormTest, ARunInTheWindowKeepsWhatWasAddedMeanwhile)
{
    form = std::make_unique<Form1>(home.myPath(), LaunchMode::Normal);
    form->startUp(builtComponents(home.myPath()), {});
    settings().write(ini::kEndNotice, 1);
    settings().write(ini::kNormalFileNameFolder, 1);
    QStringList archives;
    for (int i = 0; i < 3; ++i) {
        archives << home.path(QStringLiteral("in/a%1.zip").arg(i));
        writeFile(archives.last(), writeArchive({{"f.txt", "x", EntryKind::File, {}}}, "zip"));
    }
    form->queue().append(archives);
    int finished = -1;
    QObject::connect(form.get(), &Form1::runFinished, [&](int n) { finished = n; });
    form->Btn_Start_Click();
    EXPECT_EQ(form->Btn_Start->text(), QStringLiteral("中止(&S)"));
    form->queue().append({"/added/while/running.zip"});
    ASSERT_TRUE(waitUntil([&] { return finished >= 0; }));
    EXPECT_EQ(finished, 3);
    EXPECT_EQ(form->queue().entries(), QStringList({"/added/while/running.zip"}));
    EXPECT_EQ(form->statusText(1), QStringLiteral("3個のファイルを解凍完了！"));
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Btn_Start->text(), QStringLiteral("解凍(&S)"));
    EXPECT_TRUE(QFile::exists(home.path("in/a2/f.txt")));

    // Stop: the button stops the run after the archive in hand; the rest stays queued.
    form->queue().clear();
    QStringList many;
    for (int i = 0; i < 200; ++i) {
        many << home.path(QStringLiteral("many/m%1.zip").arg(i));
        writeFile(many.last(), writeArchive({{"f.txt", "x", EntryKind::File, {}}}, "zip"));
    }
    form->queue().append(many);
    finished = -1;
    form->Btn_Start_Click();
    form->Btn_Start_Click();
    ASSERT_TRUE(waitUntil([&] { return finished >= 0; }));
    EXPECT_GT(form->queue().size(), 0);
    EXPECT_EQ(form->queue().size() + finished, 200);
    EXPECT_TRUE(form->statusText(1).endsWith(QStringLiteral("個のファイルを解凍して中止しました。")));
}

TEST_F(FormTest, MenuItemsOpenWhatTheySay)
{
    ModalWatcher noLog;
    noLog.arm();
    form->MnuErrorLog->trigger();
    EXPECT_TRUE(noLog.text.startsWith(QStringLiteral("エラーログはまだありません。")));
    writeFile(home.myPath() + "Log.txt", "x");
    form->MnuErrorLog->trigger();
    form->MnuOnlineHelp->trigger();
    form->MnuHelp->trigger();
    ASSERT_EQ(opened.size(), 3) << opened.join(" ").toStdString();
    EXPECT_TRUE(opened[0].endsWith("Log.txt"));
    EXPECT_TRUE(opened[1].startsWith("https://"));
    EXPECT_TRUE(opened[2].endsWith("docs/manual/index.html"));

    ModalWatcher about;
    about.arm();
    form->MnuAbout->trigger();
    EXPECT_EQ(about.title, QStringLiteral("SalvoExtractorのﾊﾞｰｼﾞｮﾝ情報"));

    ModalWatcher components;
    components.arm();
    form->MnuDLLDown->trigger();
    EXPECT_TRUE(components.text.contains("unlha32.so")) << components.text.toStdString();

    ModalWatcher general;
    general.arm();
    form->MnuOptGeneral->trigger();
    EXPECT_EQ(general.title, QStringLiteral("一般設定"));
    ModalWatcher filter;
    filter.arm();
    form->MnuFiltering->trigger();
    EXPECT_EQ(filter.title, QStringLiteral("フィルタリング"));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
