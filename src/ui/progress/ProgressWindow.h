#pragma once
// The small window a DD-mode run shows in place of the hidden main window:
// which archive is being extracted, and a button that stops the run.
#include "engine/RunUi.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace salvo {

class RunProgressView;

class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget *parent = nullptr);
    // Shows the window with the archive the run is at: number (from 1) and count.
    void showArchive(int number, int count, const QString &archive);
    // How far the run has come (bars, time left, the entry being written).
    void showProgress(const RunProgress &progress, qint64 elapsedMs);

signals:
    void stopRequested();

protected:
    // Escape and the close box ask the run to stop, as the stop button does:
    // the window stays until the run is over, so there is always something to
    // watch the run end in.
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void requestStop();

public:
    QLabel *label = nullptr;
    RunProgressView *progressView = nullptr;
    QPushButton *stopButton = nullptr;
};

} // namespace salvo
