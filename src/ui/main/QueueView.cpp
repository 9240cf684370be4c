#include "QueueView.h"

#include "app/QueueFiles.h"
#include "archivers/FormatTable.h"
#include "engine/RunUi.h"
#include "platform/LocalPath.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QThread>

namespace salvo {

QueueView::QueueView(ArchiveQueue &queue, QString myPath, RunUi &ui, std::function<bool()> busy, QWidget *window)
    : QObject(window), m_queue(queue), m_myPath(std::move(myPath)), m_ui(ui), m_busy(std::move(busy)), m_window(window)
{
    m_list = new QListView(window);
    m_list->setObjectName(QStringLiteral("List1"));
    m_list->setModel(&m_queue);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QListView::doubleClicked, this, [this] { emit activated(currentPath()); });

    window->setAcceptDrops(true);
    window->installEventFilter(this);

    chooseFiles = [this](const FileChoice &choice) {
        const std::unique_ptr<QFileDialog> dialog = makeFileDialog(choice, m_window);
        if (dialog->exec() != QDialog::Accepted)
            return QStringList();
        return dialog->selectedFiles();
    };

    // A first start shows an empty list: the hint says what goes there. It
    // lets every click and drop through to the list.
    m_hint = new QLabel(QStringLiteral("ここに書庫をドロップ…"), m_list->viewport());
    m_hint->setObjectName(QStringLiteral("emptyQueueHint"));
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_hint->setForegroundRole(QPalette::PlaceholderText);
    connect(&m_queue, &QAbstractItemModel::rowsInserted, this, &QueueView::showHintWhenEmpty);
    connect(&m_queue, &QAbstractItemModel::rowsRemoved, this, &QueueView::showHintWhenEmpty);
    connect(&m_queue, &QAbstractItemModel::modelReset, this, &QueueView::showHintWhenEmpty);
    showHintWhenEmpty();
}

void QueueView::showHintWhenEmpty()
{
    m_hint->setVisible(m_queue.isEmpty());
}

QString QueueView::chooseFile(const FileChoice &choice)
{
    const QStringList files = chooseFiles(choice);
    return files.isEmpty() ? QString() : files.constFirst();
}

QString QueueView::currentPath() const
{
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() ? m_queue.at(current.row()) : QString();
}

namespace {

// What could not be queued, for the status bar; empty when everything was.
QString leftOutText(const AddResult &result)
{
    QString text;
    if (result.skipped > 0)
        text += QString::number(result.skipped) + QStringLiteral("件は見つからないため除外");
    if (result.notFiles > 0) {
        if (!text.isEmpty())
            text += QStringLiteral("、");
        text += QString::number(result.notFiles) + QStringLiteral("件は通常のファイルでないため除外");
    }
    return text;
}

} // namespace

AddResult QueueView::addPaths(const QStringList &paths)
{
    const AddResult result = m_queue.addPaths(paths);
    logLeftOut(m_myPath, result);
    const QString leftOut = leftOutText(result);
    if (!leftOut.isEmpty()) {
        m_ui.setStatus(1, QString::number(m_queue.size()) + QStringLiteral("ファイル登録済み(")
                              + QString::number(result.added) + QStringLiteral("追加、") + leftOut + QStringLiteral(")"));
    }
    return result;
}

void QueueView::dropPaths(const QStringList &paths, std::function<void()> done)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto found = std::make_shared<QStringList>();
    auto result = std::make_shared<AddResult>();
    // Large folders are scanned off the window's thread, so it keeps painting.
    QThread *scan = QThread::create([paths, found, result] { *result = collectPaths(paths, found.get()); });
    connect(scan, &QThread::finished, this, [this, scan, found, result, done] {
        scan->deleteLater();
        m_queue.append(*found);
        logLeftOut(m_myPath, *result);
        QApplication::restoreOverrideCursor();
        const QString leftOut = leftOutText(*result);
        m_ui.setStatus(1, QString::number(m_queue.size()) + QStringLiteral("ファイル登録済み(")
                              + QString::number(result->added) + QStringLiteral("追加")
                              + (leftOut.isEmpty() ? QString() : QStringLiteral("、") + leftOut) + QStringLiteral(")"));
        if (done)
            done();
    });
    scan->start();
}

bool QueueView::loadList(const QString &path, bool replace)
{
    // Read first: a list that cannot be read leaves the queue as it was.
    QStringList entries;
    switch (loadFileList(path, &entries)) {
    case LoadStatus::Ok:
        if (replace)
            m_queue.setEntries(entries);
        else
            m_queue.append(entries);
        return true;
    case LoadStatus::TooLarge:
        m_ui.showMessage(QStringLiteral("ファイルリストが大きすぎるため読み込めません。\n(%1 MB まで)")
                             .arg(kMaxListFileBytes / (1024 * 1024)),
                         MessageIcon::Error);
        break;
    case LoadStatus::CannotOpen:
        m_ui.showMessage(QStringLiteral("ファイルリストを開けません。\n") + path, MessageIcon::Error);
        break;
    }
    return false;
}

bool QueueView::saveList(const QString &path)
{
    if (saveFileList(path, m_queue.entries()))
        return true;
    m_ui.showMessage(QStringLiteral("ファイルリストを保存できません。\n") + path, MessageIcon::Error);
    return false;
}

std::unique_ptr<QFileDialog> QueueView::makeFileDialog(const FileChoice &choice, QWidget *parent)
{
    auto dialog = std::make_unique<QFileDialog>(parent, choice.title, choice.folder);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilters(choice.filters);
    if (choice.save)
        dialog->setAcceptMode(QFileDialog::AcceptSave);
    else if (choice.folders) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    }
    else
        dialog->setFileMode(choice.many ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    return dialog;
}

namespace {

// The archives the program knows by their extensions, then every file.
QStringList archiveFilters()
{
    QStringList patterns;
    for (const FormatRow &row : formatTable()) {
        for (const QString &key : row.keys) {
            const QString pattern = QStringLiteral("*.") + key;
            if (!patterns.contains(pattern))
                patterns << pattern;
        }
    }
    return {QStringLiteral("書庫ファイル (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'),
            QStringLiteral("すべてのファイル (*)")};
}

} // namespace

void QueueView::chooseAndAddFiles()
{
    const QStringList files =
        chooseFiles({QStringLiteral("ファイルを追加"), QDir::homePath(), archiveFilters(), false, true});
    if (!files.isEmpty())
        dropPaths(files);
}

void QueueView::chooseAndAddFolder()
{
    const QStringList folder =
        chooseFiles({QStringLiteral("フォルダを追加"), QDir::homePath(), {}, false, false, true});
    if (!folder.isEmpty())
        dropPaths(folder);
}

void QueueView::chooseAndLoadList()
{
    if (m_busy())
        return;
    const QString file = chooseFile({QStringLiteral("ファイルを開く"), m_myPath, listFileFilters(), false});
    if (file.isEmpty()) {
        m_ui.setStatus(1, QStringLiteral("キャンセルしました。"));
        return;
    }
    m_ui.setStatus(1, loadList(file, true) ? QStringLiteral("ファイルリストを読み込みました。")
                                           : QStringLiteral("ファイルリストを読み込めませんでした。"));
}

void QueueView::chooseAndSaveList()
{
    if (m_queue.isEmpty()) {
        m_ui.showMessage(QStringLiteral("登録されているファイルがありません。\n中止します。"), MessageIcon::Information);
        m_ui.setStatus(1, QStringLiteral("中止しました。"));
        return;
    }
    const QString file = chooseFile({QStringLiteral("ファイルを保存"), m_myPath, listFileFilters(), true});
    if (file.isEmpty()) {
        m_ui.setStatus(1, QStringLiteral("キャンセルしました。"));
        return;
    }
    m_ui.setStatus(1, saveList(listFileNameWithExtension(file)) ? QStringLiteral("ファイルリストを保存しました。")
                                                                : QStringLiteral("ファイルリストを保存できませんでした。"));
}

void QueueView::sortQueue()
{
    if (m_busy() || m_queue.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_list->setUpdatesEnabled(false);
    QStringList entries = m_queue.entries();
    sortQueueEntries(entries, Settings(m_myPath).read(ini::kSort));
    m_queue.setEntries(entries);
    m_list->setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();
}

void QueueView::removeSelected()
{
    if (m_busy())
        return;
    QList<int> rows;
    for (const QModelIndex &index : m_list->selectionModel()->selectedIndexes())
        rows << index.row();
    m_list->setUpdatesEnabled(false);
    m_queue.removeRowsAt(rows);
    m_list->setUpdatesEnabled(true);
    m_ui.setStatus(1, QString::number(m_queue.size()) + QStringLiteral("ファイル登録済み(")
                          + QString::number(rows.size()) + QStringLiteral("消去)"));
}

void QueueView::selectAll()
{
    m_list->setUpdatesEnabled(false);
    m_list->selectAll();
    m_list->setUpdatesEnabled(true);
}

bool QueueView::handleKey(QKeyEvent *key)
{
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods == (Qt::ControlModifier | Qt::AltModifier) && key->key() == Qt::Key_0) {
        m_ui.showMessage(QStringLiteral("ｷﾀ━━━━━━(ﾟ∀ﾟ)━━━━━━!!"), MessageIcon::Information);
        return true;
    }
    if (mods == Qt::ControlModifier) {
        switch (key->key()) {
        case Qt::Key_A:
            selectAll();
            return true;
        case Qt::Key_E:
            emit startRequested();
            return true;
        case Qt::Key_O:
            emit optionsRequested();
            return true;
        case Qt::Key_Q:
            emit closeRequested();
            return true;
        default:
            break;
        }
    }
    if (mods == Qt::NoModifier && key->key() == Qt::Key_Delete) {
        removeSelected();
        return true;
    }
    return false;
}

bool QueueView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched == m_list && handleKey(static_cast<QKeyEvent *>(event)))
            return true;
        break;
    case QEvent::Resize:
        if (watched == m_list->viewport())
            m_hint->setGeometry(m_list->viewport()->rect());
        break;
    case QEvent::MouseButtonRelease:
        if (watched == m_list->viewport() && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
            removeSelected();
            return true;
        }
        break;
    case QEvent::DragEnter:
        if (watched == m_window) {
            auto *drag = static_cast<QDragEnterEvent *>(event);
            if (drag->mimeData()->hasUrls())
                drag->acceptProposedAction();
            return true;
        }
        break;
    case QEvent::Drop:
        if (watched == m_window) {
            auto *drop = static_cast<QDropEvent *>(event);
            QStringList paths;
            for (const QUrl &url : drop->mimeData()->urls()) {
                const QString path = localPathFromUrl(url);
                if (!path.isEmpty())
                    paths << path;
            }
            drop->acceptProposedAction();
            if (!paths.isEmpty())
                dropPaths(paths);
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace salvo
