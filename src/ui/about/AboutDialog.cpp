#include "AboutDialog.h"

#include "archivers/ComponentCaller.h"
#include "archivers/ComponentVersions.h"
#include "salvo_version.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace salvo {

AboutDialog::AboutDialog(const QString &title, ComponentCaller *caller, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(title + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    auto *layout = new QVBoxLayout(this);
    versionLabel = new QLabel(QStringLiteral("Version " SALVO_VERSION_TEXT), this);
    versionLabel->setObjectName(QStringLiteral("lblVersion"));
    layout->addWidget(versionLabel);
    // The program has no web page of its own: the link leads to its manual.
    const QString manual = installedManual();
    urlLabel = new QLabel(manual.isEmpty() ? QStringLiteral("マニュアルはインストールされていません")
                                           : QStringLiteral("<a href=\"%1\">SalvoExtractor マニュアル</a>")
                                                 .arg(QUrl::fromLocalFile(manual).toString(QUrl::FullyEncoded)
                                                          .toHtmlEscaped()),
                          this);
    urlLabel->setObjectName(QStringLiteral("lblURL"));
    urlLabel->setToolTip(manual);
    urlLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    openUrl = [this](const QUrl &url, std::function<void()> failed) { openOnDesktop(url, this, std::move(failed)); };
    connect(urlLabel, &QLabel::linkActivated, this, [this](const QString &link) {
        const QUrl url(link);
        openUrl(url, [this, url] {
            QMessageBox::warning(this, QStringLiteral("SalvoExtractor"),
                                 QStringLiteral("マニュアルを開くプログラム (ブラウザ) が見つかりません。\n")
                                     + url.toLocalFile());
        });
    });
    layout->addWidget(urlLabel);

    list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("lvwDLLVersion"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("DLL File"), QStringLiteral("Version")});
    list->header()->setStretchLastSection(true);
    ComponentCaller none{Availability{}};
    for (const ComponentVersionRow &row : componentVersionRows(caller ? *caller : none)) {
        auto *item = new QTreeWidgetItem({row.file, row.version});
        if (!row.detail.isEmpty()) {
            item->setToolTip(0, row.detail);
            item->setToolTip(1, row.detail);
        }
        list->addTopLevelItem(item);
    }
    list->resizeColumnToContents(0);
    list->setColumnWidth(0, list->columnWidth(0) + 24);
    // Every row in view without scrolling.
    const int rowHeight = qMax(list->sizeHintForRow(0), list->fontMetrics().height());
    list->setMinimumHeight(rowHeight * (list->topLevelItemCount() + 1) + list->header()->sizeHint().height()
                           + 2 * list->frameWidth());
    list->setMinimumWidth(list->columnWidth(0) + 160);
    layout->addWidget(list);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(440, 560);
}

} // namespace salvo
