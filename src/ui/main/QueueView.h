#pragma once
// The archive queue as the main window shows it: the list (`List1`), its keys
// and mouse actions, drag and drop onto the window, the list files and sorting.
#include "app/ArchiveQueue.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QFileDialog;
class QKeyEvent;
class QLabel;
class QListView;
class QWidget;

namespace salvo {

class RunUi;

class QueueView : public QObject {
    Q_OBJECT
public:
    // `busy` answers true while a run works through the queue: the queue then
    // keeps its order and its entries.
    QueueView(ArchiveQueue &queue, QString myPath, RunUi &ui, std::function<bool()> busy, QWidget *window);

    QListView *list() const { return m_list; }
    // The path of the current row, or empty.
    QString currentPath() const;

    // Adds the files and folders of the command line or a hand-off and says in
    // the status bar what could not be queued.
    AddResult addPaths(const QStringList &paths);
    // Adds dropped files and folders; folders are scanned off the window's
    // thread. `done` runs when they are in the queue.
    void dropPaths(const QStringList &paths, std::function<void()> done = {});

    // False, after saying why, when the list could not be read or written; the
    // queue is then as it was.
    bool loadList(const QString &path, bool replace);
    bool saveList(const QString &path);
    // The menu items: ask for a list file, then load or save it.
    void chooseAndLoadList();
    void chooseAndSaveList();
    // The menu items that add archives without drag and drop: ask for files
    // (several at once) or a folder, then queue them as a drop would.
    void chooseAndAddFiles();
    void chooseAndAddFolder();
    void sortQueue();
    void removeSelected();
    void selectAll();

    // What a list-file dialog is asked for, and the dialog that asks it.
    struct FileChoice {
        QString title, folder;
        QStringList filters;
        bool save = false;
        bool many = false;   // several existing files
        bool folders = false; // a folder rather than files
    };
    static std::unique_ptr<QFileDialog> makeFileDialog(const FileChoice &choice, QWidget *parent);
    // Shows the dialog and returns the chosen files, none when cancelled; tests replace it.
    std::function<QStringList(const FileChoice &)> chooseFiles;
    // The one-line hint the empty queue shows.
    QLabel *emptyHint() const { return m_hint; }

signals:
    void activated(const QString &path); // a double click on an entry
    void startRequested();                // Ctrl+E
    void optionsRequested();              // Ctrl+O
    void closeRequested();                // Ctrl+Q

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleKey(QKeyEvent *key);
    QString chooseFile(const FileChoice &choice);
    void showHintWhenEmpty();

    ArchiveQueue &m_queue;
    QString m_myPath;
    RunUi &m_ui;
    std::function<bool()> m_busy;
    QWidget *m_window;
    QListView *m_list = nullptr;
    QLabel *m_hint = nullptr;
};

} // namespace salvo
