#include "AboutDialog.h"

#include "app/ProjectLinks.h"
#include "archivers/ComponentCaller.h"
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



QString versionText(int hundredths)
{
    return QString::number(hundredths / 100.0, 'f', 2);
}

AboutDialog::AboutDialog(const QString &title, ComponentCaller *caller, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(title + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    auto *layout = new QVBoxLayout(this);
    auto *lblVersion = new QLabel(QStringLiteral("Version " SALVO_VERSION_TEXT), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    layout->addWidget(lblVersion);
    auto *lblURL = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(QLatin1String(kProjectPage)), this);
    lblURL->setObjectName(QStringLiteral("lblURL"));
    connect(lblURL, &QLabel::linkActivated, this, [](const QString &url) { QDesktopServices::openUrl(QUrl(url)); });
    layout->addWidget(lblURL);

    list = new QTreeWidget(this);
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("DLL File"), QStringLiteral("Version")});
    list->header()->setStretchLastSection(true);
    struct Row {
        const char *name;
        Component component;
        const char *prefix; // "" for presence only
        bool sub;
    };
    const Row rows[] = {
        {"UNLHA32.DLL", Component::UnLha32, "Unlha", true},    {"UNZIP32.DLL", Component::UnZip32, "UnZip", false},
        {"ZIP32J.DLL", Component::Zip32J, "Zip", false},       {"ZIP32.DLL", Component::Zip32, "", false},
        {"CAB32.DLL", Component::Cab32, "Cab", false},         {"UNGCA32.DLL", Component::UnGca32, "UnGCA", false},
        {"UNRAR32.DLL", Component::UnRar32, "Unrar", false},   {"7-ZIP32.DLL", Component::SevenZip32, "SevenZip", true},
        {"YZ1.DLL", Component::Yz1, "Yz1", false},             {"UNARJ32.DLL", Component::UnArj32, "Unarj", true},
        {"TAR32.DLL", Component::Tar32, "Tar", false},         {"BGA32.DLL", Component::Bga32, "Bga", false},
        {"UNBEL32.DLL", Component::UnBel32, "Unbel", false},   {"UNIMP32.DLL", Component::UnImp32, "UnImp", true},
        {"UNHKI32.DLL", Component::UnHki32, "UnHki", true},    {"KTY32.DLL", Component::Kty32, "Kty", false},
        {"PAQAR32.DLL", Component::Paqar32, "Paqar", true},    {"UNACE32.DLL", Component::UnAce32, "Unace", true},
        {"UNACEV2.DLL", Component::UnAceV2, "", false},        {"YZ2DEC.EXE", Component::Yz2Dec, "", false},
        {"RK.EXE", Component::RkExe, "", false},
    };
    for (const Row &r : rows) {
        QString text = QStringLiteral("Not Installed");
        if (caller && caller->availability().has(r.component)) {
            text = QStringLiteral("Installed");
            if (*r.prefix) {
                const int v = caller->version(r.component, r.prefix);
                if (v != kNotCalled)
                    text = r.component == Component::Kty32 ? QString::number(v / 100.0, 'f', 1) : versionText(v);
                if (r.sub) {
                    const int s = caller->subVersion(r.component, r.prefix);
                    if (s != kNotCalled)
                        text += QLatin1Char('.') + versionText(s);
                }
            }
        }
        list->addTopLevelItem(new QTreeWidgetItem({QLatin1String(r.name), text}));
    }
    list->resizeColumnToContents(0);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(420, 480);
}

} // namespace salvo
