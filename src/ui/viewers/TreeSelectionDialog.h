#pragma once
// "ファイルの追加": the folders of the archive as a tree under "<ROOT>". The
// user picks the folder that receives the dropped files (or makes a new one
// under a picked folder) and confirms; the files of the drop list are then
// added to the archive and the count is shown in the main window's status bar.
#include "app/ArchiveFolderTree.h"

#include <QDialog>

#include <functional>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace salvo {

class EntryActions;
class RunUi;

class TreeSelectionDialog : public QDialog {
    Q_OBJECT
public:
    TreeSelectionDialog(ArchiveFolderTree tree, QString archive, EntryActions &actions, RunUi &ui,
                        QWidget *parent = nullptr);

    // The full path of the last clicked node ("<ROOT>", "<ROOT>/a/b"); empty
    // until a node is clicked.
    QString selectedPath() const { return m_selected; }
    // Selects a node by its full path, as a click does; false when there is none.
    bool selectPath(const QString &fullPath);

    // The new-folder button, with the name already answered: checks it and
    // adds the folder under the selected node. False when nothing was added.
    bool addFolder(const QString &name);
    // The OK button: adds the dropped files into the selected folder.
    void addFiles();

    // Asks for the new folder's name; tests replace it.
    std::function<QString()> askFolderName;
    // Whether OK added the files (the viewer then reads the archive again).
    bool filesAdded() const { return m_added; }

    QTreeWidget *treeView() const { return m_view; }
    QPushButton *addButton = nullptr;    // `Btn_Add`
    QPushButton *okButton = nullptr;     // `Btn_OK`
    QPushButton *cancelButton = nullptr; // `Btn_Cancel`

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTreeWidgetItem *itemFor(int node);
    void select(QTreeWidgetItem *item);

    ArchiveFolderTree m_tree;
    QString m_archive;
    EntryActions &m_actions;
    RunUi &m_ui;
    QTreeWidget *m_view = nullptr;
    std::vector<QTreeWidgetItem *> m_items; // by node
    QString m_selected;
    bool m_added = false;
    bool m_keyboard = false;
};

} // namespace salvo
