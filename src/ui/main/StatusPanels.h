#pragma once
// The main window's five-panel status bar: panel 1 for messages, 2 and 3 for
// the elapsed time, counts and sizes, and the two toggles at the right edge,
// panel 4 (a folder named after each archive) and panel 5 (the folders stored
// inside archives), which a click cycles through their settings.
#include "settings/Modes.h"

#include <QObject>
#include <QPixmap>

class QLabel;
class QStatusBar;
class QWidget;

namespace salvo {

class StatusPanels : public QObject {
    Q_OBJECT
public:
    StatusPanels(QString myPath, QWidget *window);

    QStatusBar *bar() const { return m_bar; }
    // Panels are numbered 1 to 5; other numbers are ignored. Window thread only.
    void setText(int panel, const QString &text);
    QString text(int panel) const;
    QLabel *panel(int number) const;

    // Redraw the two toggles from the settings file.
    void showFolderNameMode();
    void showDirectoryMode();
    // A click on panel 4 or 5: advances its setting and redraws it.
    void toggle(int panel);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_myPath;
    QStatusBar *m_bar = nullptr;
    QLabel *m_panels[5] = {};
    // The pictures of the toggles: make a folder, make none, keep the tree, flat.
    QPixmap m_makeFolder, m_noFolder, m_keepTree, m_flat;
};

} // namespace salvo
