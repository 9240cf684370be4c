#pragma once
// How far a run has come, for the main window's status area and the DD-mode
// progress window: a bar for the bytes of the archive in hand, one for the
// whole queue, the time left and the entry being written.
#include "engine/RunUi.h"

#include <QWidget>

class QLabel;
class QProgressBar;

namespace salvo {

class ElidingLabel;

class RunProgressView : public QWidget {
    Q_OBJECT
public:
    explicit RunProgressView(QWidget *parent = nullptr);

    // Shows `progress`; `elapsedMs`: how long the run has been extracting.
    void showProgress(const RunProgress &progress, qint64 elapsedMs);
    // Back to nothing done.
    void clear();

    QProgressBar *archiveBar = nullptr;
    QProgressBar *queueBar = nullptr;
    QLabel *timeLeft = nullptr;
    ElidingLabel *entry = nullptr;
};

} // namespace salvo
