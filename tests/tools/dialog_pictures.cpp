// Pictures of the settings dialogs, the queue filter and the about box, one
// per tab page, for looking at them (not a test):
//   xvfb-run -a build/tests/dialog_pictures OUT_DIR
// Runs in a temporary program folder with the components of the build.
#include "app/ArchiveQueue.h"
#include "app/QueueFilter.h"
#include "archivers/ComponentCaller.h"
#include "support/ComponentLib.h"
#include "ui/about/AboutDialog.h"
#include "ui/options/ArchiverOptionsDialog.h"
#include "ui/options/ExtractionOptionsDialog.h"
#include "ui/options/GeneralOptionsDialog.h"
#include "ui/options/SettingsOnlyButtons.h"
#include "ui/viewers/QueueFilterDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

using namespace salvo;

namespace {

QString g_out;

void save(QWidget &w, const QString &name)
{
    w.show();
    w.adjustSize();
    QApplication::processEvents();
    const QString file = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    w.grab().save(file);
    std::printf("%s\n", qPrintable(file));
}

void savePages(QDialog &d, QTabWidget *tabs, const QString &name)
{
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        save(d, QStringLiteral("%1-%2").arg(name).arg(i + 1, 2, 10, QLatin1Char('0')));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialog_pictures OUT_DIR\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    QTemporaryDir home;
    const QString myPath = home.path() + QLatin1Char('/');
    qputenv("SALVO_HOME", myPath.toLocal8Bit());
    QFile ini(myPath + QStringLiteral("Salvo.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[GENERAL]\nAlwaysPath=/tmp\nPreScan=1\n[DDMODE]\nExtractMode=2\nTargetPath=/tmp\n"
              "[EXTRACT_ARCVIEW]\nAction=1\nTargetPlace=3\nTemplate=デスクトップ\n");
    ini.close();

    ExtractionOptionsDialog extraction(myPath);
    savePages(extraction, extraction.tabs(), QStringLiteral("extraction"));
    ArchiverOptionsDialog archiver(myPath);
    savePages(archiver, archiver.tabs(), QStringLiteral("archiver"));

    QFile history(myPath + QLatin1String(kFilterNameHistoryFile));
    history.open(QIODevice::WriteOnly);
    history.write("abc\r\nold term\r\n");
    history.close();
    ArchiveQueue queue;
    QueueFilter filter(myPath);
    QueueFilterDialog filterDialog(myPath, filter, queue);
    save(filterDialog, QStringLiteral("filter"));

    ComponentCaller caller(test::builtComponents(myPath));
    AboutDialog about(QStringLiteral("SalvoExtractor"), &caller);
    save(about, QStringLiteral("about"));

    GeneralOptionsDialog general(myPath, caller.availability());
    addSettingsOnlyButtons(&general, myPath);
    save(general, QStringLiteral("settings-only"));
    return 0;
}
