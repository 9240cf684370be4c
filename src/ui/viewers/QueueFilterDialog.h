#pragma once
// The queue filter dialog.
#include <QDialog>

namespace salvo {

class QueueFilterDialog : public QDialog {
    Q_OBJECT
public:
    explicit QueueFilterDialog(QWidget *parent = nullptr);
};

} // namespace salvo
