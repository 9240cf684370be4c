#include "AboutDialog.h"

#include "app/ProjectLinks.h"
#include "archivers/ComponentCaller.h"
#include "archivers/ComponentVersions.h"
#include "salvo_version.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
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
    urlLabel = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(QLatin1String(kProjectPage)), this);
    urlLabel->setObjectName(QStringLiteral("lblURL"));
    urlLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    connect(urlLabel, &QLabel::linkActivated, this, [this](const QString &url) { openUrl(QUrl(url)); });
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
