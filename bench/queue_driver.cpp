// Times the queue's own work for the benchmark: adding every file below a
// folder (as a drop does), loading a list file, and sorting by full path.
#include "app/ArchiveQueue.h"
#include "app/QueueFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace salvo;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
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
    std::printf("%d %lld %.4f %.4f %.4f\n", r.added, static_cast<long long>(fromList.size()), dropSeconds, loadSeconds,
                sortSeconds);
    return 0;
}
