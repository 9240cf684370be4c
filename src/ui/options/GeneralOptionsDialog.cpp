#include "GeneralOptionsDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace salvo {

GeneralOptionsDialog::GeneralOptionsDialog(QString myPath, QWidget *parent) : QDialog(parent), m_myPath(std::move(myPath))
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("一般設定"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("設定ファイル: %1Salvo.ini").arg(m_myPath), this);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace salvo
