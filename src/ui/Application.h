#pragma once
// The program's start: launch mode, hand-off to a running instance, the main
// window and its start-up steps. Returns the process exit code.
class QApplication;

namespace salvo {

int runSalvoExtractor(QApplication &app);

} // namespace salvo
