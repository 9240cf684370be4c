#pragma once
// The archiver options dialog ("Option-Archive-"): the compression settings
// of the archive-creation mode, one tab page per output format. Each label
// names the archiver switch its control feeds, in square brackets. The
// controls, their keys and the ranges refused at OK are the table of
// settings/OptionForms.h.
#include "OptionControls.h"

#include <QDialog>

#include <functional>

class QTabWidget;

namespace salvo {

class ArchiverOptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ArchiverOptionsDialog(QString myPath, QWidget *parent = nullptr);

    // Shows a message box; tests replace it.
    std::function<void(const QString &text, MessageIcon icon)> notify;

    QTabWidget *tabs() const { return m_tabs; }
    OptionControls &controls() { return m_controls; }

    void accept() override;

private:
    QString m_myPath;
    QTabWidget *m_tabs = nullptr;
    OptionControls m_controls;
};

} // namespace salvo
