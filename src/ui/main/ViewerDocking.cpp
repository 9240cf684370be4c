#include "ViewerDocking.h"

#include "app/MainWindowState.h"

#include <QEvent>
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
    m_viewer->resize(m_viewer->width(), m_main->height());
    m_viewer->move(frame.x() + frame.width(), frame.y());
    m_placing = false;
}

void ViewerDocking::followViewer()
{
    if (!m_viewer || m_placing)
        return;
    const QRect main = m_main->frameGeometry();
    const int distance = qAbs(m_viewer->x() - (main.x() + main.width())) * kTwipsPerPixel;
    m_docked = distance <= kDockDistanceTwips;
    if (!m_docked)
        return;
    m_placing = true;
    m_main->move(m_viewer->x() - main.width(), m_viewer->y());
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
