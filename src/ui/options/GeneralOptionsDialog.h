#pragma once
// The general options dialog. With the mode "DDMODE_SETTING" (the settings-only
// launch) closing it ends the program.
#include <QDialog>

namespace salvo {

class frmOption : public QDialog {
    Q_OBJECT
public:
    explicit frmOption(QString myPath, QWidget *parent = nullptr);

    QString MODETYPE;

private:
    QString m_myPath;
};

} // namespace salvo
