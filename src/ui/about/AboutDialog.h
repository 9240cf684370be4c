#pragma once
// The about box: the program's version and what each component answers.
#include <QDialog>

class QTreeWidget;

namespace salvo {

class ComponentCaller;

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const QString &title, ComponentCaller *caller, QWidget *parent = nullptr);

    QTreeWidget *list = nullptr;
};

// "0.00" of a version number in hundredths.
QString versionText(int hundredths);

} // namespace salvo
