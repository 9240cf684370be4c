// Extracts one archive the way a run does, for bench/peer_matrix.sh: the
// format from the archive's name or bytes, its check, the component and the
// command line of that format, the password (when given) to the password
// question. matrix_driver HOME ARCHIVE OUTPUT_FOLDER [PASSWORD]; exits with 0
// when the component reported the archive extracted whole.
#include "archivers/ArchiveProbe.h"
#include "archivers/Availability.h"
#include "engine/ExtractionCommands.h"

#include <QCoreApplication>

#include <cstdio>

using namespace salvo;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const QString home = QString::fromLocal8Bit(argv[1]);
    const Availability a = settleAvailability(home, ComponentLocator::forProgram(home, QCoreApplication::applicationDirPath()),
                                              [](const QString &) {});
    ComponentCaller caller(a);
    ArchiveProbe probe(caller, home);
    const QString password = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    caller.setPasswordAsker([&](const QString &, bool retry, QString *given) {
        *given = password;
        return !password.isEmpty() && !retry;
    });
    const ArchiveFormat format = probe.identify(QString::fromLocal8Bit(argv[2]));
    if (probe.check(format) != kCheckOk) {
        std::fprintf(stderr, "check failed\n");
        return 1;
    }
    ExtractionRequest request;
    request.archive = format.path;
    request.outputDir = QString::fromLocal8Bit(argv[3]);
    request.sfxKind = format.formatInside();
    request.contentKind = format.formatByContent();
    const ExtractionCall call = buildExtractionCall(request, a);
    if (call.kind != CallKind::Component) {
        std::fprintf(stderr, "no component\n");
        return 1;
    }
    QString output;
    const int result = caller.run(call.component, call.prefix, call.commandLine, nullptr, &output);
    std::fprintf(stderr, "%s", output.toLocal8Bit().constData());
    return result == 0 ? 0 : 1;
}
