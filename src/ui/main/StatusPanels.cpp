#include "StatusPanels.h"

#include "ElidingLabel.h"
#include "app/MainWindowState.h"
#include "settings/Settings.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>

namespace salvo {

StatusPanels::StatusPanels(QString myPath, QWidget *window)
    : QObject(window), m_myPath(std::move(myPath)), m_makeFolder(QStringLiteral(":/icons/make_folder.svg")),
      m_noFolder(QStringLiteral(":/icons/no_folder.svg")), m_keepTree(QStringLiteral(":/icons/keep_tree.svg")),
      m_flat(QStringLiteral(":/icons/flat.svg"))
{
    m_bar = new QStatusBar(window);
    m_bar->setObjectName(QStringLiteral("StatusBar1"));
    m_bar->setSizeGripEnabled(false);
    const int stretches[5] = {4, 1, 2, 0, 0};
    for (int i = 0; i < 5; ++i) {
        // The text panels never widen the window, however long their texts.
        m_panels[i] = i < 3 ? new ElidingLabel(m_bar) : new QLabel(m_bar);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        if (i >= 3) {
            m_panels[i]->setFixedWidth(20); // the two toggle panels hold an icon each
            m_panels[i]->installEventFilter(this);
        }
        m_bar->addPermanentWidget(m_panels[i], stretches[i]);
    }
}

QLabel *StatusPanels::panel(int number) const
{
    return number >= 1 && number <= 5 ? m_panels[number - 1] : nullptr;
}

void StatusPanels::setText(int number, const QString &text)
{
    if (QLabel *label = panel(number))
        label->setText(text);
}

QString StatusPanels::text(int number) const
{
    const QLabel *label = panel(number);
    return label ? label->text() : QString();
}

void StatusPanels::showFolderNameMode()
{
    QLabel *label = m_panels[3];
    switch (Settings(m_myPath).folderNameMode(LaunchMode::Normal)) {
    case FolderNameMode::Automatic:
        label->clear();
        label->setToolTip(QStringLiteral("自動モード"));
        break;
    case FolderNameMode::Always:
        label->setPixmap(m_makeFolder);
        label->setToolTip(QStringLiteral("ファイル名でフォルダを作成する"));
        break;
    case FolderNameMode::Never:
        label->setPixmap(m_noFolder);
        label->setToolTip(QStringLiteral("ファイル名でフォルダを作成しない"));
        break;
    default:
        break; // other values leave the panel as it is
    }
}

void StatusPanels::showDirectoryMode()
{
    QLabel *label = m_panels[4];
    if (Settings(m_myPath).read(ini::kDirectory) == 1) {
        label->setPixmap(m_flat);
        label->setToolTip(QStringLiteral("書庫ファイル内のディレクトリを無視する"));
    } else {
        label->setPixmap(m_keepTree);
        label->setToolTip(QStringLiteral("書庫ファイル内のディレクトリを有効にする"));
    }
}

void StatusPanels::toggle(int number)
{
    const Settings settings(m_myPath);
    if (number == 4) {
        settings.setFolderNameMode(nextFolderNameMode(settings.folderNameMode(LaunchMode::Normal)));
        showFolderNameMode();
    } else if (number == 5) {
        settings.write(ini::kDirectory, nextDirectoryFlag(settings.read(ini::kDirectory)));
        showDirectoryMode();
    }
}

bool StatusPanels::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == m_panels[3] || watched == m_panels[4]) {
            toggle(watched == m_panels[3] ? 4 : 5);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace salvo
