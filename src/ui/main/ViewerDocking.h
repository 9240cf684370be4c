#pragma once
// Keeps the content viewer docked to the main window: while docked, the viewer
// takes the main window's top and height and sits flush against its right
// edge (its own resizing keeps them), and either window drags the other along.
// Moving the viewer more than 100 twips away from that edge undocks it; moving
// it back within 100 twips docks it again. The viewer stays on the screen:
// where the right side has no room for it, it docks to the left edge instead,
// and where neither side has, it opens undocked within the screen.
#include <QObject>
#include <QPointer>

class QWidget;

namespace salvo {

class ViewerDocking : public QObject {
    Q_OBJECT
public:
    explicit ViewerDocking(QWidget *mainWindow);

    // The viewer opens: it is placed at the main window's edge (docked or not,
    // the first placement is the docked one). Closing it detaches it.
    void attach(QWidget *viewer);
    void detach();

    bool isViewerOpen() const { return !m_viewer.isNull(); }
    // Starts true; follows the viewer's moves.
    bool isDocked() const { return m_docked; }
    // The viewer is docked to the main window's left edge (the right has no room).
    bool isDockedLeft() const { return m_docked && m_left; }

    // Farthest a docked viewer's edge may be from the main window's edge.
    static constexpr int kDockDistanceTwips = 100;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeViewer();
    void followViewer();

    QWidget *m_main;
    QPointer<QWidget> m_viewer;
    bool m_docked = true;
    bool m_left = false; // docked to the left edge
    bool m_placing = false;
};

} // namespace salvo
