#pragma once
// The general options dialog. Opened by the settings-only launch (launch mode
// DdModeSetting), closing it ends the program.
#include "settings/Modes.h"

#include <QDialog>

namespace salvo {

class GeneralOptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit GeneralOptionsDialog(QString myPath, QWidget *parent = nullptr);

    LaunchMode launchMode = LaunchMode::Normal;

private:
    QString m_myPath;
};

} // namespace salvo
