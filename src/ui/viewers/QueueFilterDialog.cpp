#include "QueueFilterDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace salvo {

QueueFilterDialog::QueueFilterDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFiltering"));
    setWindowTitle(QStringLiteral("フィルタリング"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("登録されたファイルを名前と拡張子で絞り込みます。"), this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace salvo
