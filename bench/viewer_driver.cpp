// Opens one archive in the content viewer under the offscreen platform, as an
// activation in the queue does, and prints how long the first rows and the
// last row took to reach the list, how long sorting by name and by size takes,
// and the peak memory of the process. For comparison it first walks the
// archive through the component alone: the first row cannot reach the list
// before the component hands out its first entry.
#include "archivers/ArchiveProbe.h"
#include "archivers/Availability.h"
#include "engine/RunUi.h"
#include "ui/viewers/ContentViewer.h"
#include "ui/viewers/EntryListModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

using namespace salvo;

namespace {

struct QuietUi : RunUi {
    void showMessage(const QString &text, MessageIcon) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    bool askYesNo(const QString &) override { return false; }
    void setStatus(int, const QString &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: viewer_driver HOME ARCHIVE\n");
        return 2;
    }
    const QString home = QString::fromLocal8Bit(argv[1]);
    const QString archive = QString::fromLocal8Bit(argv[2]);
    const QString exeDir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const Availability a = settleAvailability(home, ComponentLocator::forProgram(home, exeDir), [](const QString &) {});
    ComponentCaller caller(a);
    ArchiveProbe probe(caller, home);
    auto walkAlone = [&] {
        QElapsedTimer walk;
        walk.start();
        qint64 firstEntry = -1;
        probe.listEntries(probe.identify(archive), [&](const ComponentEntry &) {
            if (firstEntry < 0)
                firstEntry = walk.nsecsElapsed();
            return true;
        });
        const qint64 walked = walk.nsecsElapsed();
        std::printf("component alone: first_entry_ms %.1f last_entry_ms %.1f\n", firstEntry / 1e6, walked / 1e6);
    };
    QuietUi ui;
    ContentViewer viewer(home, caller, probe, ui, nullptr);
    viewer.show();
    QApplication::processEvents();

    QElapsedTimer clock;
    qint64 firstRows = -1, lastRow = -1;
    QObject::connect(viewer.model(), &QAbstractItemModel::rowsInserted, [&] {
        if (firstRows < 0) {
            firstRows = clock.nsecsElapsed();
            // The rows are painted before the next batch goes in.
            viewer.list()->viewport()->repaint();
            firstRows = clock.nsecsElapsed();
        }
    });
    QObject::connect(&viewer, &ContentViewer::listed, [&] {
        lastRow = clock.nsecsElapsed();
        viewer.list()->scrollToBottom();
        viewer.list()->viewport()->repaint();
        QElapsedTimer sort;
        sort.start();
        viewer.model()->sortBy(EntryListModel::NameColumn, Qt::DescendingOrder);
        viewer.list()->viewport()->repaint();
        const double byName = sort.nsecsElapsed() / 1e6;
        sort.restart();
        viewer.model()->sortBy(EntryListModel::OriginalSizeColumn, Qt::AscendingOrder);
        viewer.list()->viewport()->repaint();
        const double bySize = sort.nsecsElapsed() / 1e6;
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("viewer: rows %d first_rows_ms %.1f last_row_ms %.1f sort_name_ms %.1f sort_size_ms %.1f peak_rss_mb %.1f\n",
                    viewer.model()->rowCount(), firstRows / 1e6, lastRow / 1e6, byName, bySize,
                    usage.ru_maxrss / 1024.0);
        QCoreApplication::quit();
    });
    walkAlone();
    QTimer::singleShot(0, [&] {
        clock.start();
        viewer.showArchive(archive);
    });
    return app.exec();
}
