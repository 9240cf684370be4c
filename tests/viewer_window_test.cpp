// The content viewer and the tree dialog under the offscreen platform, on real
// archives through the built components: opening from the queue, docking,
// sorting every column, deleting, adding through the tree dialog, and Open.
#include "app/ArchiveListing.h"
#include "archivers/ArchiveProbe.h"
#include "settings/Settings.h"
#include "support/ArchiveBuilder.h"
#include "support/ComponentLib.h"
#include "support/RecordingUi.h"
#include "support/TestEnvironment.h"
#include "ui/main/MainWindow.h"
#include "ui/main/QueueView.h"
#include "ui/main/ViewerDocking.h"
#include "ui/viewers/ContentViewer.h"
#include "ui/viewers/EntryListModel.h"
#include "ui/viewers/TreeSelectionDialog.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <sys/stat.h>

using namespace salvo;
using namespace salvo::test;

namespace {

// Answers the folder question with `folder` (empty: cancelled).
struct ViewerUi : RecordingUi {
    QString folder;
    QString askFolder(const QString &) override { return folder; }
};

class ViewerWindowTest : public ::testing::Test {
protected:
    TempHome home;
    ViewerUi ui;
    Availability components = builtComponents(home.myPath());
    ComponentCaller caller{components};
    ArchiveProbe probe{caller, home.myPath()};
    std::unique_ptr<ContentViewer> viewer;
    QStringList opened;

    Settings settings() { return Settings(home.myPath()); }
    void open(const QString &archive)
    {
        if (!viewer) {
            viewer = std::make_unique<ContentViewer>(home.myPath(), caller, probe, ui, nullptr);
            viewer->openUrl = [this](const QUrl &url) {
                opened << url.toLocalFile();
                return true;
            };
            viewer->show();
        }
        viewer->showArchive(archive);
        ASSERT_TRUE(waitUntil([&] { return !viewer->isListing(); }, 60000));
    }
    QStringList column(int c)
    {
        QStringList texts;
        for (int r = 0; r < viewer->model()->rowCount(); ++r)
            texts << viewer->model()->index(r, c).data().toString();
        return texts;
    }
    void select(const QString &entry)
    {
        const QStringList names = column(EntryListModel::NameColumn);
        const int row = static_cast<int>(names.indexOf(entry));
        ASSERT_GE(row, 0) << entry.toStdString() << " in " << names.join(", ").toStdString();
        viewer->list()->selectRow(row);
    }
};

// The value a cell shows, for comparing: numbers without "," and "%", "-" lowest.
double cellValue(const QString &text)
{
    if (text == "-")
        return -1;
    QString digits = text;
    digits.remove(',').remove('%');
    return digits.toDouble();
}

TEST(ViewerFromQueue, OpensDockedAndSortsEveryColumnByValue)
{
    TempHome home;
    // Three files whose sizes, dates and ratios all sort differently as text.
    const QString dir = home.path("files");
    QByteArray random(700, 0);
    for (int i = 0; i < random.size(); ++i)
        random[i] = char((i * 7919 + 13) % 251);
    struct File {
        const char *name;
        QByteArray data;
        int year;
    };
    const File files[] = {{"a-small.txt", random.left(512), 2020},
                          {"b-big.txt", QByteArray(1024, 'x'), 2010},
                          {"C-mid.txt", random, 2015}};
    QStringList names;
    for (const File &f : files) {
        const QString path = dir + "/" + f.name;
        writeFile(path, f.data);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime(QDate(f.year, 6, 1), QTime(12, 0)), QFileDevice::FileModificationTime);
        names << f.name;
    }
    const QString zip = home.path("sorted.zip");
    ASSERT_EQ(QProcess::execute("bsdtar", QStringList{"--format", "zip", "-cf", zip, "-C", dir} + names), 0);

    MainWindow window(home.myPath(), LaunchMode::Normal);
    window.startUp(builtComponents(home.myPath()), {zip});
    window.show();
    window.queueView()->list()->setCurrentIndex(window.queue().index(0));
    window.openCurrentArchive();
    ContentViewer *viewer = window.viewer();
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(waitUntil([&] { return window.statusText(2) == "3個"; }, 60000));
    EXPECT_EQ(window.statusText(3), "2,236Bytes");
    EXPECT_EQ(viewer->objectName(), "frmListViewer");
    EXPECT_EQ(viewer->windowTitle(), zip);
    EXPECT_EQ(viewer->model()->rowCount(), 3);
    EXPECT_TRUE(window.docking()->isViewerOpen());
    // At the right edge where the screen has room for it, else on the screen.
    const QRect room = window.screen()->availableGeometry();
    if (window.frameGeometry().right() + viewer->frameGeometry().width() <= room.right())
        EXPECT_EQ(viewer->x(), window.frameGeometry().x() + window.frameGeometry().width());
    else
        EXPECT_TRUE(room.contains(viewer->frameGeometry()));
    EXPECT_EQ(viewer->height(), window.height());
    QStringList headers;
    for (int c = 0; c < EntryListModel::ColumnCount; ++c)
        headers << viewer->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({"FileName", "Date", "OriginalSize", "CompressionSize", "Ratio"}));

    auto texts = [&](int c) {
        QStringList t;
        for (int r = 0; r < 3; ++r)
            t << viewer->model()->index(r, c).data().toString();
        return t;
    };
    QHeaderView *header = viewer->list()->horizontalHeader();
    // Each click flips the order, whatever the column: the first gives descending.
    for (int c = 0; c < EntryListModel::ColumnCount; ++c) {
        for (int click = 0; click < 2; ++click) {
            emit header->sectionClicked(c);
            const QStringList t = texts(c);
            const bool descending = (c * 2 + click) % 2 == 0;
            for (int r = 1; r < 3; ++r) {
                const bool ordered = c == EntryListModel::NameColumn
                    ? (descending ? t[r - 1].compare(t[r], Qt::CaseInsensitive) >= 0
                                  : t[r - 1].compare(t[r], Qt::CaseInsensitive) <= 0)
                    : c == EntryListModel::DateColumn ? (descending ? t[r - 1] >= t[r] : t[r - 1] <= t[r])
                                                      : (descending ? cellValue(t[r - 1]) >= cellValue(t[r])
                                                                    : cellValue(t[r - 1]) <= cellValue(t[r]));
                EXPECT_TRUE(ordered) << "column " << c << " click " << click << ": " << t.join(" | ").toStdString();
            }
            if (c == EntryListModel::OriginalSizeColumn && descending) {
                EXPECT_EQ(t, QStringList({"1,024", "700", "512"})); // as text "700" would lead
            }
            if (c == EntryListModel::DateColumn) {
                EXPECT_EQ(t.first().left(4), descending ? "2020" : "2010");
            }
            if (c == EntryListModel::NameColumn) {
                EXPECT_EQ(texts(0).first(), descending ? "C-mid.txt" : "a-small.txt");
            }
        }
    }

    // Escape closes the viewer; the docking lets go of it.
    QTest::keyClick(viewer->list(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return window.viewer() == nullptr; }));
    EXPECT_FALSE(window.docking()->isViewerOpen());
}

TEST_F(ViewerWindowTest, DeleteRemovesAnEntryFromARealZipAndTheListFollows)
{
    const QString zip = home.path("del.zip");
    writeFile(zip, writeArchive({{"keep.txt", "keep"}, {"gone.txt", "gone"}, {"dir", {}, EntryKind::Folder},
                                 {"dir/sub.txt", "sub"}},
                                "zip"));
    open(zip);
    ASSERT_EQ(viewer->model()->rowCount(), 4);
    select("gone.txt");
    QTest::keyClick(viewer->list(), Qt::Key_Delete);
    ASSERT_TRUE(waitUntil([&] { return !viewer->isListing() && viewer->model()->rowCount() == 3; }, 60000));
    EXPECT_EQ(column(0), QStringList({"keep.txt", "dir/", "dir/sub.txt"}));
    EXPECT_TRUE(ui.messages.empty());

    // The popup's delete on a folder entry, named as listed ("dir/"), takes the
    // folder and what is under it, and nothing else.
    select("dir/");
    viewer->actionDelete->trigger();
    ASSERT_TRUE(waitUntil([&] { return !viewer->isListing() && viewer->model()->rowCount() == 1; }, 60000));
    QStringList inArchive;
    for (const ListRow &row : probe.listEntries(zip))
        inArchive << row.name;
    EXPECT_EQ(inArchive, QStringList({"keep.txt"}));
    EXPECT_TRUE(ui.messages.empty());
    // Ctrl+Alt+0.
    QTest::keyClick(viewer->list(), Qt::Key_0, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "(つД｀) ﾊﾞﾚﾀ");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Information);
}

TEST_F(ViewerWindowTest, DropThroughTheTreeDialogAddsToAnLzhInANewFolder)
{
    const QString lzh = home.path("add.lzh");
    writeFile(lzh, storedLzh({{"docs\\readme.txt", "read me"}, {"top.txt", "top"}}, 2));
    const QString drop = home.path("drop");
    writeFile(drop + "/new1.txt", "one");
    writeFile(drop + "/new 2.txt", "two");
    open(lzh);
    ASSERT_EQ(viewer->model()->rowCount(), 2);

    QStringList treePaths;
    viewer->treeDialogShown = [&](TreeSelectionDialog &dialog) {
        EXPECT_EQ(dialog.objectName(), "frmTreeView");
        EXPECT_EQ(dialog.windowTitle(), "ファイルの追加");
        EXPECT_TRUE(dialog.isModal());
        QTreeWidgetItemIterator it(dialog.treeView());
        for (; *it; ++it)
            treePaths << (*it)->text(0);
        // Nothing picked yet: both buttons say so.
        dialog.addButton->click();
        dialog.okButton->click();
        dialog.selectPath("<ROOT>/docs");
        EXPECT_FALSE(dialog.addFolder("bad?name"));
        EXPECT_TRUE(dialog.addFolder("新規"));
        EXPECT_TRUE(dialog.selectPath("<ROOT>/docs/新規"));
        dialog.okButton->click();
    };
    viewer->dropFiles({drop + "/new1.txt", drop + "/new 2.txt"});
    EXPECT_EQ(treePaths, QStringList({"<ROOT>", "docs"}));
    ASSERT_EQ(ui.messages.size(), 3u);
    EXPECT_EQ(ui.messages[0].text, "親フォルダを選択して下さい。");
    EXPECT_EQ(ui.messages[1].text, "追加先パスが選択されていません。");
    EXPECT_TRUE(ui.messages[2].text.startsWith("ファイル名に次の文字は使えません。"));
    EXPECT_EQ(ui.status[1], "2ファイル追加");
    ASSERT_TRUE(waitUntil([&] { return !viewer->isListing(); }, 60000));
    QStringList names = column(0);
    // The LZH writer gives the new folders entries of their own.
    EXPECT_EQ(names.size(), 6) << names.join(", ").toStdString();
    for (QString &n : names)
        n.replace('\\', '/');
    EXPECT_TRUE(names.contains("docs/新規/new1.txt")) << names.join(", ").toStdString();
    EXPECT_TRUE(names.contains("docs/新規/new 2.txt")) << names.join(", ").toStdString();

    // An archive that takes no files says so in the status bar.
    const QString cab = home.path("x.cab");
    writeFile(cab, "MSCF");
    open(cab);
    viewer->dropFiles({drop + "/new1.txt"});
    EXPECT_EQ(ui.status[1], "対応していない書庫です。");
}

TEST_F(ViewerWindowTest, OpenNeverRunsAnEntryNorTouchesTheSettingsFile)
{
    const QString zip = home.path("open.zip");
    writeFile(zip, writeArchive({{"run.sh", "#!/bin/sh\necho hi\n", EntryKind::File, {}, 0755},
                                 {"readme.txt", "new text"},
                                 {"d/deep.txt", "deep"},
                                 {"line\nbreak.txt", "hostile"}},
                                "zip"));
    // Open replaces what an earlier Open left, though the setting says to ask;
    // the setting itself is never written.
    settings().write(ini::kViewOverWrite, 1);
    const QByteArray settingsBefore = readFile(home.myPath() + "Salvo.ini");
    // Every write replaces the file: an unchanged inode means it was not written.
    auto inode = [&] {
        struct stat st {};
        ::stat(QFile::encodeName(home.myPath() + "Salvo.ini").constData(), &st);
        return st.st_ino;
    };
    const auto inodeBefore = inode();
    const QString tmp = home.myPath() + "tmp";
    writeFile(tmp + "/readme.txt", "old text");
    open(zip);
    select("readme.txt");
    viewer->actionOpen->trigger();
    EXPECT_EQ(opened, QStringList{QFileInfo(tmp + "/readme.txt").canonicalFilePath()});
    EXPECT_EQ(readFile(tmp + "/readme.txt"), "new text");
    EXPECT_EQ(readFile(home.myPath() + "Salvo.ini"), settingsBefore);
    EXPECT_EQ(inode(), inodeBefore) << "Open writes nothing into the settings file";
    EXPECT_EQ(ui.status[1], "解凍完了！");

    // A script is not handed to the opener: its folder is, with a message.
    opened.clear();
    select("run.sh");
    viewer->actionOpen->trigger();
    EXPECT_EQ(opened, QStringList{QFileInfo(tmp).canonicalFilePath()});
    EXPECT_FALSE(QFileInfo(tmp + "/run.sh").isExecutable());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].text.endsWith(tmp + "/run.sh"));

    // A double click runs what "Action" and "TargetPlace" choose (0, 0: Open).
    opened.clear();
    select("readme.txt");
    const int row = static_cast<int>(column(0).indexOf("readme.txt"));
    emit viewer->list()->doubleClicked(viewer->model()->index(row, 0));
    EXPECT_EQ(opened.size(), 1);
    settings().write(ini::kViewAction, 1); // Extract with TargetPlace 0: nothing
    emit viewer->list()->doubleClicked(viewer->model()->index(row, 0));
    EXPECT_EQ(opened.size(), 1);

    // The other entries of the popup menu, with and without the sub-folder.
    settings().write(ini::kViewOverWrite, 0);
    const QString usual = home.path("usual");
    settings().write(ini::kAlwaysPath, usual);
    select("d/deep.txt");
    viewer->actionExtractUsualFolder->trigger();
    EXPECT_TRUE(QFileInfo::exists(usual + "/deep.txt")) << "keep-paths is off: the entry alone";
    viewer->actionMakeSubFolder->trigger();
    EXPECT_TRUE(viewer->makesSubFolder());
    EXPECT_EQ(settings().read(ini::kMakeFolder4ListView), 0) << "the toggle writes nothing";
    viewer->actionExtractUsualFolder->trigger();
    EXPECT_TRUE(QFileInfo::exists(usual + "/open/deep.txt"));
    ui.status[1].clear();
    viewer->actionExtractAskFolder->trigger(); // cancelled
    EXPECT_EQ(ui.status[1], "解凍は中止しました。");
    ui.folder = home.path("asked");
    QDir().mkpath(ui.folder);
    opened.clear();
    viewer->actionOpenAskFolder->trigger();
    EXPECT_EQ(opened, QStringList{QFileInfo(ui.folder + "/open/deep.txt").canonicalFilePath()});
    viewer->actionOpenUsualFolder->trigger();
    EXPECT_EQ(opened.size(), 2);
    // A name with a line break is shown readably and opened as what it is.
    const int hostile = static_cast<int>(column(0).indexOf(QString::fromUtf8("line\u240Abreak.txt")));
    ASSERT_GE(hostile, 0) << column(0).join(", ").toStdString();
    EXPECT_EQ(viewer->model()->entryName(hostile), "line\nbreak.txt");
    viewer->list()->selectRow(hostile);
    opened.clear();
    viewer->actionOpen->trigger();
    EXPECT_EQ(opened, QStringList{QFileInfo(tmp + "/open/line\nbreak.txt").canonicalFilePath()});
    EXPECT_EQ(viewer->popupMenu->objectName(), "mnuPopUp");
    EXPECT_EQ(viewer->templateMenu->actions().size(), 4);
}

// Dropped files replace only the entries of their very names; two dropped
// files of one name are refused with a message.
TEST_F(ViewerWindowTest, ADroppedFileReplacesOnlyTheEntryOfItsExactName)
{
    const QString src = home.path("src");
    writeFile(src + "/a.txt", "lower case, old");
    writeFile(src + "/A.txt", "upper case, old: longer");
    const QString archive = home.path("case.7z");
    ASSERT_EQ(QProcess::execute("/bin/sh", {"-c", "cd \"$0\" && 7zz a -bd -bso0 \"$1\" a.txt A.txt", src, archive}), 0);
    writeFile(home.path("drop/a.txt"), "new");
    writeFile(home.path("drop/b.txt"), "b");
    writeFile(home.path("drop/B.txt"), "B");
    writeFile(home.path("other/b.txt"), "another b");
    open(archive);
    viewer->treeDialogShown = [](TreeSelectionDialog &dialog) {
        dialog.selectPath("<ROOT>");
        dialog.okButton->click();
    };
    auto sizes = [&] {
        std::map<QString, QString> out;
        for (int r = 0; r < viewer->model()->rowCount(); ++r)
            out[viewer->model()->entryName(r)] = viewer->model()->index(r, EntryListModel::OriginalSizeColumn).data().toString();
        return out;
    };
    viewer->dropFiles({home.path("drop/a.txt")});
    EXPECT_EQ(ui.status[1], "1ファイル追加");
    ASSERT_TRUE(waitUntil([&] { return !viewer->isListing(); }, 60000));
    EXPECT_EQ(sizes(), (std::map<QString, QString>{{"a.txt", "3"}, {"A.txt", "23"}}));
    viewer->dropFiles({home.path("drop/b.txt"), home.path("drop/B.txt")});
    EXPECT_EQ(ui.status[1], "2ファイル追加");
    ASSERT_TRUE(waitUntil([&] { return !viewer->isListing() && viewer->model()->rowCount() == 4; }, 60000));
    const QByteArray before = readFile(archive);
    viewer->dropFiles({home.path("drop/b.txt"), home.path("other/b.txt")});
    EXPECT_EQ(ui.status[1], "ファイル追加失敗");
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_TRUE(ui.messages.back().text.contains("同じ名前")) << ui.messages.back().text.toStdString();
    EXPECT_EQ(readFile(archive), before);
}

// A dropped folder goes in with everything under it, at the top and into a
// folder of the archive, in every format.
TEST_F(ViewerWindowTest, ADroppedFolderGoesInWithItsWholeTree)
{
    const QString tree = home.path("drop/tree");
    writeFile(tree + "/a.txt", "a");
    writeFile(tree + "/sub/b.txt", "b");
    writeFile(tree + "/sub/deeper/c.txt", "c");
    const std::vector<RawEntry> seed{{"keep.txt", "keep"}, {"in/", "", true}};
    struct Case {
        QString archive;
        QByteArray bytes;
        QString target; // "" for the top
    };
    const Case cases[] = {
        {home.path("t.zip"), storedZip(seed), ""},
        {home.path("t2.zip"), storedZip(seed), "in"},
        {home.path("t.7z"), writeArchive({{"keep.txt", "keep"}, {"in", {}, EntryKind::Folder}}, "7zip"), "in"},
        {home.path("t2.7z"), writeArchive({{"keep.txt", "keep"}}, "7zip"), ""},
        {home.path("t.lzh"), storedLzh({{"keep.txt", "keep"}, {"in", "", true}}, 2), "in"},
        {home.path("t2.lzh"), storedLzh({{"keep.txt", "keep"}}, 2), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.archive.toStdString());
        writeFile(c.archive, c.bytes);
        open(c.archive);
        viewer->treeDialogShown = [&](TreeSelectionDialog &dialog) {
            EXPECT_TRUE(dialog.selectPath(c.target.isEmpty() ? "<ROOT>" : "<ROOT>/" + c.target));
            dialog.okButton->click();
        };
        viewer->dropFiles({tree});
        EXPECT_EQ(ui.status[1], "3ファイル追加");
        ASSERT_TRUE(waitUntil([&] { return !viewer->isListing(); }, 60000));
        const QStringList names = column(0);
        const QString into = c.target.isEmpty() ? QString() : c.target + "/";
        for (const char *file : {"tree/a.txt", "tree/sub/b.txt", "tree/sub/deeper/c.txt"})
            EXPECT_TRUE(names.contains(into + file)) << file << " in " << names.join(", ").toStdString();
    }
    EXPECT_TRUE(ui.messages.empty());
}

// The row deleted is the entry taken, whatever its name: absolute, with a
// trailing blank, a file beside a folder of the same name.
TEST_F(ViewerWindowTest, EveryRowDeletesTheEntryItShowsAndNoOther)
{
    const QString zip = home.path("odd.zip");
    writeFile(zip, storedZip({{"/etc/x", "absolute"},
                              {"etc/x", "relative"},
                              {"trail ", "blank"},
                              {"trail", "plain"},
                              {"notes", "file"},
                              {"notes/inner.txt", "inner"},
                              {"../up.txt", "up"}}));
    open(zip);
    QStringList left = column(0);
    ASSERT_EQ(left.size(), 7) << left.join(", ").toStdString();
    for (const QString &row : {"/etc/x", "trail ", "notes", "../up.txt"}) {
        select(row);
        QTest::keyClick(viewer->list(), Qt::Key_Delete);
        left.removeOne(row);
        ASSERT_TRUE(waitUntil([&] { return !viewer->isListing() && viewer->model()->rowCount() == left.size(); }, 60000));
        QStringList now = column(0);
        now.sort();
        QStringList expected = left;
        expected.sort();
        EXPECT_EQ(now, expected) << "after deleting the row \"" << row.toStdString() << "\"";
    }
    EXPECT_TRUE(ui.messages.empty());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
