#pragma once
// The about box: the program's version, every archiver component and console
// extractor with its file name here and its version or presence (the rows of
// archivers/ComponentVersions.h), and the link to the manual installed with
// the program.
#include "ui/DesktopOpener.h"

#include <QDialog>

#include <functional>

class QLabel;
class QTreeWidget;
class QUrl;

namespace salvo {

class ComponentCaller;

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // Without a caller no component is called: every row is "Not Installed".
    AboutDialog(const QString &title, ComponentCaller *caller, QWidget *parent = nullptr);

    // Opens the manual in the desktop's browser; tests replace it.
    DesktopOpenFn openUrl;

    QLabel *versionLabel = nullptr; // `lblVersion`
    QLabel *urlLabel = nullptr;     // `lblURL`
    QTreeWidget *list = nullptr;
};

} // namespace salvo
