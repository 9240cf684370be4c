// Drives the adapter layer for the benchmark: "inspect" takes archive paths on
// standard input and asks each for its count, expanded size and top folders,
// as the batch run does; "rows" lists one archive as the content viewer does.
#include "archivers/Availability.h"
#include "archivers/ArchiveProbe.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

using namespace salvo;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString home = QString::fromLocal8Bit(argv[2]);
    const QString exeDir = QCoreApplication::applicationDirPath();
    const Availability a = settleAvailability(home, ComponentLocator::forProgram(home, exeDir), [](const QString &) {});
    ComponentCaller caller(a);
    ArchiveProbe probe(caller, home);
    const QString mode = QString::fromLocal8Bit(argv[1]);
    if (mode == QLatin1String("inspect")) {
        QTextStream in(stdin);
        qint64 total = 0, count = 0, multi = 0;
        while (!in.atEnd()) {
            const QString path = in.readLine();
            if (path.isEmpty())
                continue;
            count += probe.entryCount(path);
            total += probe.expandedSize(path);
            multi += probe.isMultiRoot(path) ? 1 : 0;
        }
        std::printf("%lld entries, %lld bytes, %lld with several top folders\n", static_cast<long long>(count),
                    static_cast<long long>(total), static_cast<long long>(multi));
    } else if (mode == QLatin1String("rows") && argc > 3) {
        const QVector<ListRow> rows = probe.listEntries(QString::fromLocal8Bit(argv[3]));
        std::printf("%lld rows\n", static_cast<long long>(rows.size()));
    }
    return 0;
}
