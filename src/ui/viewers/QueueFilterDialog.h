#pragma once
// The queue filter dialog.
#include <QDialog>

namespace salvo {

class frmFiltering : public QDialog {
    Q_OBJECT
public:
    explicit frmFiltering(QWidget *parent = nullptr);
};

} // namespace salvo
