// Times the queue's own work for the benchmark: adding every file below a
// folder (as a drop does), loading a list file, sorting by full path, and
// filtering the queue (apply with its saved copy, then release), and
// removing every other entry selected in the window's list (run offscreen).
#include "app/ArchiveQueue.h"
#include "app/QueueFiles.h"
#include "app/QueueFilter.h"
#include "engine/RunUi.h"
#include "ui/main/QueueView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QListView>

#include <cstdio>

using namespace salvo;

namespace {

class QuietUi : public RunUi {
public:
    void showMessage(const QString &, MessageIcon) override {}
    bool askYesNo(const QString &) override { return false; }
    void setStatus(int, const QString &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    QElapsedTimer t;
    t.start();
    ArchiveQueue dropped;
    const AddResult r = dropped.addPath(QString::fromLocal8Bit(argv[1]));
    const double dropSeconds = t.nsecsElapsed() / 1e9;

    t.restart();
    QStringList loaded;
    loadFileList(QString::fromLocal8Bit(argv[2]), &loaded);
    ArchiveQueue fromList;
    fromList.append(loaded);
    const double loadSeconds = t.nsecsElapsed() / 1e9;

    t.restart();
    QStringList entries = dropped.entries();
    sortQueueEntries(entries, 0);
    dropped.setEntries(entries);
    const double sortSeconds = t.nsecsElapsed() / 1e9;

    // The filter as the dialog runs it: every name holding "d1" or "s3" goes.
    QueueFilter filter(QString::fromLocal8Bit(argv[3]));
    t.restart();
    QStringList filtered = dropped.entries();
    filter.apply(&filtered, QStringLiteral("d1 s3"), QString(), false);
    dropped.setEntries(filtered);
    const double applySeconds = t.nsecsElapsed() / 1e9;
    const qsizetype kept = filtered.size();
    t.restart();
    filter.release(&filtered);
    dropped.setEntries(filtered);
    const double releaseSeconds = t.nsecsElapsed() / 1e9;

    // Half of the entries, scattered (every other one), selected in the list
    // as the window shows it, then removed as the Delete key removes them.
    QWidget window;
    QuietUi ui;
    QueueView view(dropped, QStringLiteral("/nonexistent/"), ui, [] { return false; }, &window);
    QItemSelection selection;
    for (int row = 0; row < dropped.size(); row += 2)
        selection.select(dropped.index(row), dropped.index(row));
    view.list()->selectionModel()->select(selection, QItemSelectionModel::Select);
    const int before = dropped.size();
    t.restart();
    view.removeSelected();
    const double removeSeconds = t.nsecsElapsed() / 1e9;

    std::printf("%d %lld %.4f %.4f %.4f %lld %.4f %.4f %d %.4f\n", r.added, static_cast<long long>(fromList.size()),
                dropSeconds, loadSeconds, sortSeconds, static_cast<long long>(kept), applySeconds, releaseSeconds,
                before - dropped.size(), removeSeconds);
    return 0;
}
