#pragma once
// The queue filter dialog ("Filtering"): name and extension terms with their
// histories, keep or remove what matches, apply, release and close. The
// filtering itself and its saved queue are QueueFilter's.
#include "engine/RunUi.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QPushButton;
class QRadioButton;

namespace salvo {

class ArchiveQueue;
class QueueFilter;

class QueueFilterDialog : public QDialog {
    Q_OBJECT
public:
    QueueFilterDialog(QString myPath, QueueFilter &filter, ArchiveQueue &queue, QWidget *parent = nullptr);

    // Shows a message box; tests replace it.
    std::function<void(const QString &text, MessageIcon icon)> notify;

    QComboBox *nameBox = nullptr;      // `cmbFilterFileName`
    QComboBox *extensionBox = nullptr; // `cmbFilterExtension`
    QRadioButton *includeButton = nullptr, *excludeButton = nullptr;
    QPushButton *applyButton = nullptr, *releaseButton = nullptr, *closeButton = nullptr;

    void applyFilter();
    void releaseFilter();

private:
    QString m_myPath;
    QueueFilter &m_filter;
    ArchiveQueue &m_queue;
};

} // namespace salvo
