#include "ViewerDocking.h"

#include "app/MainWindowState.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace salvo {

ViewerDocking::ViewerDocking(QWidget *mainWindow) : QObject(mainWindow), m_main(mainWindow)
{
    m_main->installEventFilter(this);
}

void ViewerDocking::attach(QWidget *viewer)
{
    detach();
    m_viewer = viewer;
    m_docked = true;
    viewer->installEventFilter(this);
    placeViewer();
}

void ViewerDocking::detach()
{
    if (m_viewer)
        m_viewer->removeEventFilter(this);
    m_viewer = nullptr;
}

void ViewerDocking::placeViewer()
{
    if (!m_viewer || m_placing)
        return;
    m_placing = true;
    const QRect frame = m_main->frameGeometry();
    // The viewer's frame is as wide as its window plus the frame the main window has.
    const int viewerWidth = m_viewer->width() + (frame.width() - m_main->width());
    m_viewer->resize(m_viewer->width(), m_main->height());
    const QScreen *screen = m_main->screen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    const int right = frame.x() + frame.width();
    if (room.isEmpty() || right + viewerWidth <= room.x() + room.width()) {
        m_left = false;
        m_viewer->move(right, frame.y());
    } else if (frame.x() - viewerWidth >= room.x()) {
        m_left = true;
        m_viewer->move(frame.x() - viewerWidth, frame.y());
    } else {
        // No room on either side: the viewer opens on the screen, on its own.
        m_docked = false;
        m_viewer->move(qMax(room.x(), room.x() + room.width() - viewerWidth), qMax(room.y(), frame.y()));
    }
    m_placing = false;
}

void ViewerDocking::followViewer()
{
    if (!m_viewer || m_placing)
        return;
    const QRect main = m_main->frameGeometry();
    const QRect viewer = m_viewer->frameGeometry();
    const int edge = m_left ? viewer.x() + viewer.width() - main.x() : viewer.x() - (main.x() + main.width());
    m_docked = qAbs(edge) * kTwipsPerPixel <= kDockDistanceTwips;
    if (!m_docked)
        return;
    m_placing = true;
    m_main->move(m_left ? viewer.x() + viewer.width() : viewer.x() - main.width(), viewer.y());
    m_placing = false;
}

bool ViewerDocking::eventFilter(QObject *watched, QEvent *event)
{
    const bool geometry = event->type() == QEvent::Move || event->type() == QEvent::Resize;
    if (geometry && watched == m_main && m_docked)
        placeViewer();
    else if (event->type() == QEvent::Move && m_viewer && watched == m_viewer)
        followViewer();
    else if (event->type() == QEvent::Resize && m_viewer && watched == m_viewer && m_docked)
        placeViewer(); // a docked viewer keeps the main window's top and height
    else if (event->type() == QEvent::Close && m_viewer && watched == m_viewer)
        detach();
    return QObject::eventFilter(watched, event);
}

} // namespace salvo
