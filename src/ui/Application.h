#pragma once
// The program's start: launch mode, hand-off to a running instance, the main
// window and its start-up steps. Returns the process exit code.
#include <QStringList>

class QApplication;

namespace salvo {

// `arguments`: the command line after the program name, each argument whole.
int runSalvoExtractor(QApplication &app, const QStringList &arguments);

} // namespace salvo
