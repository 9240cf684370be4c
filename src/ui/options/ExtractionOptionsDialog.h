#pragma once
// The extraction options dialog.
#include <QDialog>

namespace salvo {

class frmOptionEx : public QDialog {
    Q_OBJECT
public:
    explicit frmOptionEx(QString myPath, QWidget *parent = nullptr);

private:
    QString m_myPath;
};

} // namespace salvo
