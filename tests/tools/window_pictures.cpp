// Pictures of the main window (empty queue, File menu, a long status text, a
// run in progress), the DD-mode progress window, the content viewer with
// packed sizes, the viewer kept on the screen, a stock question, the file
// dialog and the about box, for looking at them (not a test):
//   xvfb-run -a -s "-screen 0 1280x800x24" build/tests/window_pictures OUT_DIR
// Runs in a temporary program folder with the components of the build; makes
// its archives with zip, 7zz, jlha and gcab.
#include "archivers/ComponentCaller.h"
#include "support/ComponentLib.h"
#include "ui/Application.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainWindow.h"
#include "ui/main/QueueView.h"
#include "ui/main/RunControl.h"
#include "ui/main/StatusPanels.h"
#include "ui/progress/ProgressWindow.h"
#include "ui/progress/RunProgressView.h"
#include "ui/viewers/ContentViewer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <functional>

using namespace salvo;

namespace {

QString g_out;

void settle(int ms = 300)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void save(const QPixmap &picture, const QString &name)
{
    const QString file = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    picture.save(file);
    std::printf("%s\n", qPrintable(file));
}

void saveScreen(const QString &name)
{
    settle();
    save(QGuiApplication::primaryScreen()->grabWindow(0), name);
}

// Grabs the modal window that `open` shows, then closes it.
void saveModal(const QString &name, const std::function<void()> &open)
{
    QTimer poll;
    bool done = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || done)
            return;
        done = true;
        settle(400);
        save(modal->grab(), name);
        modal->close();
    });
    poll.start(50);
    open();
}

void run(const QString &folder, const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(program, arguments);
    p.waitForFinished(60000);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_pictures OUT_DIR\n");
        return 2;
    }
    installQtTranslations(app);
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    QTemporaryDir home;
    const QString myPath = home.path() + QStringLiteral("/home/");
    QDir().mkpath(myPath);
    qputenv("SALVO_HOME", myPath.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());

    // Archives made by the real tools.
    const QString in = home.path() + QStringLiteral("/書庫");
    QDir().mkpath(in + QStringLiteral("/docs"));
    QByteArray letters;
    quint32 seed = 7;
    for (int i = 0; i < 60000; ++i) {
        seed = seed * 1103515245 + 12345;
        letters += char('a' + (seed >> 16) % 12);
    }
    const QByteArray text = QByteArray("Salvo Extractor は、たくさんの書庫をまとめて解凍します。\n").repeated(800);
    for (const auto &[name, data] : {std::pair{QStringLiteral("readme.txt"), text},
                                    std::pair{QStringLiteral("docs/letters.txt"), letters},
                                    std::pair{QStringLiteral("docs/manual.html"), text + letters.left(9000)}}) {
        QFile f(in + QLatin1Char('/') + name);
        f.open(QIODevice::WriteOnly);
        f.write(data);
    }
    const QStringList names{QStringLiteral("readme.txt"), QStringLiteral("docs")};
    run(in, QStringLiteral("7zz"), QStringList{"a", "-bd", "-ms=on", "photos.7z"} + names);
    run(in, QStringLiteral("zip"), QStringList{"-q", "-r", "notes.zip"} + names);
    run(in, QStringLiteral("gcab"), {"-c", "-z", "setup.cab", "readme.txt", "docs/letters.txt"});
    run(in, QStringLiteral("jlha"), {"a", "old.lzh", "readme.txt", "docs/letters.txt"});

    MainWindow window(myPath, LaunchMode::Normal);
    window.startUp(test::builtComponents(myPath), {});
    window.move(40, 40);
    window.show();
    settle();
    save(window.grab(), QStringLiteral("main-empty-queue"));

    window.menus()->menuFile->popup(window.mapToGlobal(QPoint(10, 10)));
    settle();
    save(window.menus()->menuFile->grab(), QStringLiteral("main-file-menu"));
    window.menus()->menuFile->close();

    window.runControl()->setStatus(1, QStringLiteral("解凍できませんでした: ") + in
                                          + QStringLiteral("/とても長い名前の書庫ファイル_2024年度_第3四半期_報告書_最終版_修正済み.zip "
                                                           "(書庫の終わりの印がありません (途中で切れています))"));
    settle();
    save(window.grab(), QStringLiteral("main-long-status"));

    // A run in progress, as the components report it.
    RunProgress progress;
    progress.number = 2;
    progress.count = 5;
    progress.entry = QStringLiteral("docs/2024/写真/IMG_0042.JPG");
    progress.written = 187'000'000;
    progress.archiveDone = 160'000'000;
    progress.archiveSize = 512'000'000;
    progress.queueDone = 700'000'000;
    progress.queueSize = 2'300'000'000;
    window.statusPanels()->setText(1, QStringLiteral("2個目(全体:5個)のファイルを解凍中"));
    window.statusPanels()->setText(2, QStringLiteral("00:01:12"));
    window.progressView()->show();
    window.progressView()->showProgress(progress, 72'000);
    settle();
    save(window.grab(), QStringLiteral("main-run-progress"));
    window.progressView()->hide();
    window.statusPanels()->setText(1, QString());

    ProgressWindow dd;
    dd.showArchive(2, 5, in + QStringLiteral("/photos.7z"));
    dd.showProgress(progress, 72'000);
    settle();
    save(dd.grab(), QStringLiteral("ddmode-progress-window"));
    dd.hide();

    // The viewer with packed sizes: one archive of each format.
    window.addPaths({in + QStringLiteral("/photos.7z"), in + QStringLiteral("/notes.zip"),
                     in + QStringLiteral("/setup.cab"), in + QStringLiteral("/old.lzh")});
    for (int row = 0; row < 4; ++row) {
        window.queueView()->list()->setCurrentIndex(window.queue().index(row));
        window.openCurrentArchive();
        settle(1500);
        if (ContentViewer *viewer = window.viewer()) {
            viewer->resize(560, viewer->height());
            settle();
            save(viewer->grab(), QStringLiteral("viewer-") + QFileInfo(window.queue().at(row)).suffix());
        }
    }
    // On the right half of the screen the viewer docks to the left edge.
    const QRect screen = window.screen()->availableGeometry();
    window.move(screen.right() - window.frameGeometry().width() - 20, 60);
    settle();
    saveScreen(QStringLiteral("screen-viewer-docked-left"));
    if (window.viewer())
        window.viewer()->close();

    saveModal(QStringLiteral("question-overwrite"),
              [&] { window.runControl()->askOverwrite(in + QStringLiteral("/readme.txt")); });
    saveModal(QStringLiteral("question-yes-no"),
              [&] { window.runControl()->askYesNo(QStringLiteral("1個のファイルは解凍できませんでした。\nログを開きますか？")); });
    saveModal(QStringLiteral("dialog-add-files"), [&] { window.menus()->actionAddFiles->trigger(); });
    saveModal(QStringLiteral("dialog-add-folder"), [&] { window.menus()->actionAddFolder->trigger(); });
    saveModal(QStringLiteral("about"), [&] { window.menus()->actionAbout->trigger(); });
    window.close();
    return 0;
}
