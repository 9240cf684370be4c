#pragma once
// The program's start: launch mode, hand-off to a running instance, the main
// window and its start-up steps. Returns the process exit code.
#include <QStringList>

class QApplication;
class QCoreApplication;

namespace salvo {

// Qt's own texts (the buttons of questions, the file dialogs) in Japanese, as
// the rest of the interface: Qt's translations of its base module, from Qt's
// translations folder, and Japanese formats of dates and sizes. False when
// the translations are not installed.
bool installQtTranslations(QCoreApplication &app);

// `arguments`: the command line after the program name, each argument whole.
int runSalvoExtractor(QApplication &app, const QStringList &arguments);

} // namespace salvo
