#include "TreeSelectionDialog.h"

#include "EntryListModel.h"
#include "OffThread.h"
#include "app/EntryActions.h"
#include "engine/RunUi.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace salvo {
namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

} // namespace

TreeSelectionDialog::TreeSelectionDialog(ArchiveFolderTree tree, QString archive, EntryActions &actions, RunUi &ui,
                                         QWidget *parent)
    : QDialog(parent), m_tree(std::move(tree)), m_archive(std::move(archive)), m_actions(actions), m_ui(ui)
{
    setObjectName(QStringLiteral("frmTreeView"));
    setWindowTitle(QStringLiteral("ファイルの追加"));
    setWindowModality(Qt::ApplicationModal);

    m_view = new QTreeWidget(this);
    m_view->setObjectName(QStringLiteral("TreeView1"));
    m_view->setHeaderHidden(true);
    m_view->setColumnCount(1);
    m_view->setUniformRowHeights(true);
    m_items.assign(static_cast<size_t>(m_tree.size()), nullptr);
    for (int i = 0; i < m_tree.size(); ++i)
        itemFor(i);
    m_view->expandItem(m_items[0]);
    m_view->setCurrentItem(nullptr);
    connect(m_view, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) { select(item); });
    // The current node the view picks by itself on focus is not a choice;
    // one reached with the keys is, like a click.
    m_view->installEventFilter(this);
    connect(m_view, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (item && m_keyboard)
            select(item);
    });

    addButton = new QPushButton(QStringLiteral("ADD"), this);
    addButton->setObjectName(QStringLiteral("Btn_Add"));
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("Btn_OK"));
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("Btn_Cancel"));
    okButton->setAutoDefault(false);
    addButton->setAutoDefault(false);
    cancelButton->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(addButton);
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    resize(320, 360);

    askFolderName = [this] {
        return QInputDialog::getText(this, QLatin1String(kMessageTitle), QStringLiteral("フォルダ名を入力して下さい。"));
    };
    connect(addButton, &QPushButton::clicked, this, [this] {
        if (m_selected.isEmpty()) {
            m_ui.showMessage(QStringLiteral("親フォルダを選択して下さい。"), MessageIcon::Information);
            return;
        }
        const QString name = askFolderName();
        if (!name.isEmpty())
            addFolder(name);
    });
    connect(okButton, &QPushButton::clicked, this, &TreeSelectionDialog::addFiles);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

bool TreeSelectionDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress)
        m_keyboard = true;
    return QDialog::eventFilter(watched, event);
}

QTreeWidgetItem *TreeSelectionDialog::itemFor(int node)
{
    if (QTreeWidgetItem *item = m_items[static_cast<size_t>(node)])
        return item;
    const ArchiveFolderTree::Node &n = m_tree.node(node);
    QTreeWidgetItem *item = n.parent < 0 ? new QTreeWidgetItem(m_view) : new QTreeWidgetItem(itemFor(n.parent));
    item->setText(0, EntryListModel::readableName(n.name));
    item->setData(0, kNodeRole, node);
    // The closed folder normally, the open one while selected.
    QIcon icon;
    icon.addPixmap(style()->standardPixmap(QStyle::SP_DirClosedIcon), QIcon::Normal);
    icon.addPixmap(style()->standardPixmap(QStyle::SP_DirOpenIcon), QIcon::Selected);
    item->setIcon(0, icon);
    m_items[static_cast<size_t>(node)] = item;
    return item;
}

void TreeSelectionDialog::select(QTreeWidgetItem *item)
{
    m_selected = m_tree.fullPath(item->data(0, kNodeRole).toInt());
}

bool TreeSelectionDialog::selectPath(const QString &fullPath)
{
    const int node = m_tree.find(targetFolderOf(fullPath));
    if (node < 0)
        return false;
    m_view->setCurrentItem(m_items[static_cast<size_t>(node)]);
    select(m_items[static_cast<size_t>(node)]);
    return true;
}

bool TreeSelectionDialog::addFolder(const QString &name)
{
    if (m_selected.isEmpty()) {
        m_ui.showMessage(QStringLiteral("親フォルダを選択して下さい。"), MessageIcon::Information);
        return false;
    }
    if (name.isEmpty())
        return false;
    const QString problem = folderNameProblem(name);
    if (!problem.isEmpty()) {
        m_ui.showMessage(problem, MessageIcon::Information);
        return false;
    }
    const int parent = m_tree.find(targetFolderOf(m_selected));
    if (parent < 0)
        return false;
    const int node = m_tree.addFolderPath(parent, name);
    m_items.resize(static_cast<size_t>(m_tree.size()), nullptr);
    QTreeWidgetItem *item = itemFor(node);
    m_view->expandItem(item->parent());
    m_view->scrollToItem(item);
    return true;
}

void TreeSelectionDialog::addFiles()
{
    if (m_selected.isEmpty()) {
        m_ui.showMessage(QStringLiteral("追加先パスが選択されていません。"), MessageIcon::Information);
        return;
    }
    const QString target = targetFolderOf(m_selected);
    setEnabled(false);
    m_added = runOffThread([&] { return m_actions.addDroppedFiles(m_archive, target); });
    setEnabled(true);
    accept();
}

} // namespace salvo
