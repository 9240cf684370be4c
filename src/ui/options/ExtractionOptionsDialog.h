#pragma once
// The extraction options dialog.
#include <QDialog>

namespace salvo {

class ExtractionOptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ExtractionOptionsDialog(QString myPath, QWidget *parent = nullptr);

private:
    QString m_myPath;
};

} // namespace salvo
