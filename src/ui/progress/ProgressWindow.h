#pragma once
// The small window a DD-mode run shows in place of the hidden main window:
// which archive is being extracted, and a button that stops the run.
#include <QDialog>

class QLabel;
class QPushButton;

namespace salvo {

class frmProgress : public QDialog {
    Q_OBJECT
public:
    explicit frmProgress(QWidget *parent = nullptr);
    void show(int number, int count, const QString &archive);

signals:
    void stopRequested();

public:
    QLabel *lblProgress = nullptr;
    QPushButton *cmdStop = nullptr;
};

} // namespace salvo
