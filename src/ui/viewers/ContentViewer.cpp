#include "ContentViewer.h"

#include "EntryListModel.h"
#include "OffThread.h"
#include "TreeSelectionDialog.h"
#include "app/ArchiveFolderTree.h"
#include "app/ArchiveListing.h"
#include "app/WorkFolder.h"
#include "engine/RunUi.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace salvo {
namespace {

constexpr int kTwipsPerPixel = 15;
// Column widths in twips, in column order.
constexpr int kColumnTwips[] = {1860, 1740, 860, 860, 570};
// From this list width on, the first column takes what the others leave.
constexpr int kWideListTwips = 5985;
constexpr int kFirstColumnMarginTwips = 60;

QStringList localFiles(const QMimeData *data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files << QDir::cleanPath(url.toLocalFile());
    }
    return files;
}

} // namespace

ContentViewer::ContentViewer(QString myPath, ComponentCaller &caller, ArchiveProbe &probe, RunUi &ui,
                             QWidget *mainWindow)
    : QWidget(nullptr), m_myPath(std::move(myPath)), m_ui(ui), m_mainWindow(mainWindow),
      m_actions(m_myPath, caller, probe, ui), m_listing(std::make_unique<ArchiveListing>(probe))
{
    setObjectName(QStringLiteral("frmListViewer"));
    setWindowTitle(QStringLiteral("File Viewer"));
    if (mainWindow)
        setWindowIcon(mainWindow->windowIcon());
    openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

    m_model = new EntryListModel(this);
    m_list = new QTableView(this);
    m_list->setObjectName(QStringLiteral("List1"));
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView *header = m_list->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(false);
    // The widths of the column table, widened where this font needs more room
    // for the header or a typical value.
    const QFontMetrics metrics = m_list->fontMetrics();
    const char *const samples[] = {"", "0000/00/00 00:00:00", "00,000,000", "00,000,000", "100.0%"};
    for (int c = 0; c < EntryListModel::ColumnCount; ++c) {
        const QString title = m_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        header->resizeSection(c, std::max({kColumnTwips[c] / kTwipsPerPixel, metrics.horizontalAdvance(title) + 24,
                                           metrics.horizontalAdvance(QLatin1String(samples[c])) + 12}));
    }
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
        // Every click flips the order, whichever column it is on.
        m_lastOrder = m_lastOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        m_model->sortBy(column, m_lastOrder);
        m_list->horizontalHeader()->setSortIndicatorShown(true);
        m_list->horizontalHeader()->setSortIndicator(column, m_lastOrder);
    });
    connect(m_list, &QTableView::doubleClicked, this, [this] { runDoubleClickCommand(); });
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    m_list->viewport()->setAcceptDrops(true);
    m_list->setDragDropMode(QAbstractItemView::DropOnly);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    int columns = 0;
    for (int c = 0; c < EntryListModel::ColumnCount; ++c)
        columns += header->sectionSize(c);
    resize(std::max(440, columns + 40), 380);
    buildMenu();

    connect(m_listing.get(), &ArchiveListing::begun, this,
            [this](const QString &, const QString &typeTag) { m_model->reset(typeTag); });
    connect(m_listing.get(), &ArchiveListing::entriesArrived, m_model, &EntryListModel::append);
    connect(m_listing.get(), &ArchiveListing::finished, this, [this] {
        m_model->resort();
        emit listed();
    });
    connect(m_listing.get(), &ArchiveListing::measured, this, &ContentViewer::measured);
}

ContentViewer::~ContentViewer() = default;

void ContentViewer::buildMenu()
{
    popupMenu = new QMenu(QStringLiteral("ポップアップメニュー"), this);
    popupMenu->setObjectName(QStringLiteral("mnuPopUp"));
    auto add = [this](QMenu *menu, const char *name, const QString &caption, ViewerCommand command) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
        return action;
    };
    using enum ViewerCommand;
    actionOpen = add(popupMenu, "mnuOpen", QStringLiteral("開く"), Open);
    actionOpenAskFolder = add(popupMenu, "mnuOpenApoint", QStringLiteral("開く（場所を指定して保存）"), OpenAskFolder);
    actionOpenUsualFolder =
        add(popupMenu, "mnuOpenAlways", QStringLiteral("開く（いつものところへ保存）"), OpenUsualFolder);
    popupMenu->addSeparator()->setObjectName(QStringLiteral("MnuMinus"));
    actionExtractAskFolder =
        add(popupMenu, "mnuExtractApoint", QStringLiteral("解凍（解凍先を指定）"), ExtractAskFolder);
    actionExtractUsualFolder =
        add(popupMenu, "mnuExtractAlways", QStringLiteral("解凍（いつものところへ）"), ExtractUsualFolder);
    templateMenu = popupMenu->addMenu(QStringLiteral("解凍(テンプレート指定)"));
    templateMenu->setObjectName(QStringLiteral("mnuExtractBase"));
    const QStringList &captions = templateCaptions();
    actionExtractToDocuments = add(templateMenu, "mnuExtractToMyDocument", captions[0], ExtractToDocuments);
    actionExtractToDesktop = add(templateMenu, "mnuExtractToDesktop", captions[1], ExtractToDesktop);
    actionExtractToSystem = add(templateMenu, "mnuExtractToSystem", captions[2], ExtractToSystem);
    actionExtractToWindows = add(templateMenu, "mnuExtractToWindows", captions[3], ExtractToWindows);
    popupMenu->addSeparator()->setObjectName(QStringLiteral("MnuMinus2"));
    actionDelete = popupMenu->addAction(QStringLiteral("削除(&D)"));
    actionDelete->setObjectName(QStringLiteral("mnuDelete"));
    connect(actionDelete, &QAction::triggered, this, &ContentViewer::deleteSelected);
    popupMenu->addSeparator()->setObjectName(QStringLiteral("MnuMinus3"));
    actionMakeSubFolder = popupMenu->addAction(QStringLiteral("圧縮ファイル名でフォルダを作成する"));
    actionMakeSubFolder->setObjectName(QStringLiteral("mnuOptMakeFolder"));
    actionMakeSubFolder->setCheckable(true);
    // Read once when the window opens; the click only toggles it for the window's life.
    actionMakeSubFolder->setChecked(Settings(m_myPath).read(ini::kMakeFolder4ListView) == 1);
}

void ContentViewer::showArchive(const QString &path)
{
    m_currentFile = path;
    setWindowTitle(path);
    m_model->reset(QString());
    m_list->horizontalHeader()->setSortIndicatorShown(false);
    m_listing->start(path);
}

void ContentViewer::refresh()
{
    if (!m_currentFile.isEmpty())
        showArchive(m_currentFile);
}

bool ContentViewer::isListing() const
{
    return m_listing->isListing();
}

bool ContentViewer::makesSubFolder() const
{
    return actionMakeSubFolder->isChecked();
}

QString ContentViewer::selectedEntry() const
{
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    return m_model->entryName(rows.first().row());
}

QString ContentViewer::folderFor(ViewerCommand command)
{
    using enum ViewerCommand;
    QString folder;
    switch (command) {
    case Open:
        folder = privateWorkFolder(m_myPath);
        if (folder.isEmpty())
            m_ui.showMessage(QStringLiteral("一時フォルダを用意できません: ") + workFolderPath(m_myPath),
                             MessageIcon::Error);
        return folder;
    case OpenAskFolder:
    case ExtractAskFolder:
        folder = m_ui.askFolder(QStringLiteral("フォルダの選択"));
        if (folder.isEmpty())
            m_ui.setStatus(1, QStringLiteral("解凍は中止しました。"));
        return folder;
    case OpenUsualFolder:
    case ExtractUsualFolder:
        folder = cutAtNul(Settings(m_myPath).read(ini::kAlwaysPath));
        break;
    default:
        folder = templateFolder(command);
        break;
    }
    // An unset or relative folder would put the entry wherever the program runs.
    if (folder.isEmpty() || QDir::isRelativePath(folder)) {
        m_ui.showMessage(QStringLiteral("解凍先のフォルダが設定されていません。"), MessageIcon::Error);
        return {};
    }
    return folder;
}

void ContentViewer::runCommand(ViewerCommand command)
{
    const QString entry = selectedEntry();
    if (command == ViewerCommand::None || entry.isEmpty() || m_currentFile.isEmpty() || m_busy)
        return;
    const QString folder = folderFor(command);
    if (folder.isEmpty())
        return;
    m_busy = true;
    // Open replaces an older copy in the temporary folder without asking; the
    // setting itself is left as it is.
    const auto overwrite = command == ViewerCommand::Open ? std::optional(OverwritePolicy::Overwrite) : std::nullopt;
    const QString archive = m_currentFile;
    const bool subFolder = makesSubFolder();
    const EntryActions::Extracted extracted = runOffThread(
        [&] { return m_actions.extractEntry(archive, entry, folder, subFolder, overwrite); });
    if (extracted.ok && opensAfterExtraction(command)) {
        const OpenTarget target = m_actions.prepareOpen(extracted);
        if (!target.path.isEmpty())
            openUrl(QUrl::fromLocalFile(target.path));
    }
    m_busy = false;
}

void ContentViewer::runDoubleClickCommand()
{
    const Settings settings(m_myPath);
    runCommand(doubleClickCommand(settings.read(ini::kViewAction), settings.read(ini::kViewTargetPlace),
                                  settings.read(ini::kViewTemplate)));
}

void ContentViewer::deleteSelected()
{
    const QString entry = selectedEntry();
    if (entry.isEmpty() || m_currentFile.isEmpty() || m_busy)
        return;
    m_busy = true;
    const QString archive = m_currentFile;
    const bool deleted = runOffThread([&] { return m_actions.deleteEntry(archive, entry); });
    m_busy = false;
    if (deleted)
        refresh();
}

bool ContentViewer::waitForListing()
{
    // The tree is made of the listed names: the listing ends first. Input
    // waits meanwhile, painting does not.
    while (m_listing->isListing())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    return true;
}

void ContentViewer::dropFiles(const QStringList &paths)
{
    if (m_currentFile.isEmpty() || paths.isEmpty() || m_busy)
        return;
    m_actions.writeDropList(paths);
    if (!takesDroppedFiles(m_currentFile)) {
        m_ui.setStatus(1, QStringLiteral("対応していない書庫です。"));
        return;
    }
    m_busy = true;
    waitForListing();
    const QString archive = m_currentFile;
    TreeSelectionDialog dialog(folderTreeFor(archive, m_model->entryNames()), archive, m_actions, m_ui, this);
    dialog.setWindowIcon(m_mainWindow ? m_mainWindow->windowIcon() : windowIcon());
    if (treeDialogShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { treeDialogShown(dialog); });
    const int answer = dialog.exec();
    m_busy = false;
    if (answer == QDialog::Accepted)
        refresh();
}

void ContentViewer::fitFirstColumn()
{
    QHeaderView *header = m_list->horizontalHeader();
    const int width = m_list->viewport()->width();
    if (width * kTwipsPerPixel < kWideListTwips)
        return;
    int sum = 0;
    for (int c = 0; c < EntryListModel::ColumnCount; ++c)
        sum += header->sectionSize(c);
    const int first = width - sum + header->sectionSize(0) - kFirstColumnMarginTwips / kTwipsPerPixel;
    header->resizeSection(0, std::max(first, kColumnTwips[0] / kTwipsPerPixel));
}

void ContentViewer::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        // An extraction, a deletion or the tree dialog is in hand.
        event->ignore();
        return;
    }
    m_listing->cancel();
    QWidget::closeEvent(event);
}

bool ContentViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers held = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_Delete) {
            deleteSelected();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        if (key->key() == Qt::Key_0 && held == (Qt::ControlModifier | Qt::AltModifier)) {
            m_ui.showMessage(QStringLiteral("(つД｀) ﾊﾞﾚﾀ"), MessageIcon::Information);
            return true;
        }
        return false;
    }
    if (watched == m_list->viewport()) {
        switch (event->type()) {
        case QEvent::Resize:
            fitFirstColumn();
            break;
        case QEvent::MouseButtonRelease: {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::RightButton) {
                popupMenu->popup(mouse->globalPosition().toPoint());
                return true;
            }
            break;
        }
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDropEvent *>(event);
            if (!localFiles(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
            break;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QStringList files = localFiles(drop->mimeData());
            if (files.isEmpty())
                break;
            drop->acceptProposedAction();
            // The dialog opens once the drop is over, so the dragging program is not held up.
            QTimer::singleShot(0, this, [this, files] { dropFiles(files); });
            return true;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace salvo
