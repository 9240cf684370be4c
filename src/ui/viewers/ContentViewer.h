#pragma once
// "File Viewer": the entries of one archive of the queue in a five-column
// list, filled in the background while the archive is read. Its popup menu
// opens or extracts the selected entry (to the private temporary folder, a
// folder asked for, the usual folder or a well-known one), deletes it, and
// toggles the sub-folder named after the archive; files dropped on the list
// go into the archive through the tree selection dialog. What is done to the
// archive is EntryActions' work; this window asks and shows.
#include "app/EntryActions.h"

#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QTableView;

namespace salvo {

class ArchiveProbe;
class ArchiveListing;
class ComponentCaller;
class EntryListModel;
class RunUi;
class TreeSelectionDialog;

class ContentViewer : public QWidget {
    Q_OBJECT
public:
    // `ui` shows messages and the main window's status texts and asks for
    // folders; `mainWindow` gives the dialogs their icon.
    ContentViewer(QString myPath, ComponentCaller &caller, ArchiveProbe &probe, RunUi &ui,
                  QWidget *mainWindow);
    ~ContentViewer() override;

    // The archive shown (`CurrentFile`); the caption shows it too.
    QString currentFile() const { return m_currentFile; }
    // Shows an archive: the list empties and fills in the background. A
    // listing still running is cancelled.
    void showArchive(const QString &path);
    // Reads the shown archive again.
    void refresh();
    bool isListing() const;

    // The selected entry's name, or empty.
    QString selectedEntry() const;
    // A popup-menu command on the selected entry.
    void runCommand(ViewerCommand command);
    // The double click: the command the viewer's settings choose.
    void runDoubleClickCommand();
    // Deletes the selected entry and reads the archive again.
    void deleteSelected();
    // Files dropped on the list.
    void dropFiles(const QStringList &paths);
    // The sub-folder named after the archive (`mnuOptMakeFolder`).
    bool makesSubFolder() const;

    QTableView *list() const { return m_list; }
    EntryListModel *model() const { return m_model; }
    ArchiveListing *listing() const { return m_listing.get(); }
    EntryActions &actions() { return m_actions; }

    // Hands files and folders to the desktop; tests replace it.
    std::function<bool(const QUrl &)> openUrl;
    // Called with the tree dialog before it is shown; tests drive it here.
    std::function<void(TreeSelectionDialog &)> treeDialogShown;

    QMenu *popupMenu = nullptr;       // `mnuPopUp`
    QMenu *templateMenu = nullptr;    // `mnuExtractBase`
    QAction *actionOpen = nullptr, *actionOpenAskFolder = nullptr, *actionOpenUsualFolder = nullptr,
            *actionExtractAskFolder = nullptr, *actionExtractUsualFolder = nullptr,
            *actionExtractToDocuments = nullptr, *actionExtractToDesktop = nullptr,
            *actionExtractToSystem = nullptr, *actionExtractToWindows = nullptr, *actionDelete = nullptr,
            *actionMakeSubFolder = nullptr;

signals:
    // The entry count and expanded size of the shown archive, for the status bar.
    void measured(qint32 count, qint64 size);
    // Every entry of the shown archive is in the list.
    void listed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    void fitFirstColumn();
    QString folderFor(ViewerCommand command);
    bool waitForListing();

    QString m_myPath;
    RunUi &m_ui;
    QWidget *m_mainWindow;
    EntryActions m_actions;
    EntryListModel *m_model = nullptr;
    QTableView *m_list = nullptr;
    std::unique_ptr<ArchiveListing> m_listing;
    QString m_currentFile;
    Qt::SortOrder m_lastOrder = Qt::AscendingOrder;
    bool m_busy = false;
};

} // namespace salvo
