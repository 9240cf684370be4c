#include "SettingsOnlyButtons.h"

#include "ArchiverOptionsDialog.h"
#include "ExtractionOptionsDialog.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace salvo {

SettingsOnlyButtons addSettingsOnlyButtons(QDialog *options, const QString &myPath)
{
    SettingsOnlyButtons added;
    added.extraction = new QPushButton(QStringLiteral("解凍の設定..."), options);
    added.extraction->setObjectName(QStringLiteral("Btn_OptionExtract"));
    added.archiver = new QPushButton(QStringLiteral("圧縮の設定..."), options);
    added.archiver->setObjectName(QStringLiteral("Btn_OptionArchive"));
    for (QPushButton *b : {added.extraction, added.archiver})
        b->setAutoDefault(false);

    QObject::connect(added.extraction, &QPushButton::clicked, options, [options, myPath] {
        ExtractionOptionsDialog dialog(myPath, options, LaunchMode::DdModeSetting);
        dialog.exec();
    });
    QObject::connect(added.archiver, &QPushButton::clicked, options, [options, myPath] {
        ArchiverOptionsDialog dialog(myPath, options);
        dialog.exec();
    });

    // Beside the dialog's own buttons when it has a button box, else in a row
    // of their own just above them.
    if (auto *box = options->findChild<QDialogButtonBox *>()) {
        box->addButton(added.extraction, QDialogButtonBox::ActionRole);
        box->addButton(added.archiver, QDialogButtonBox::ActionRole);
    } else {
        auto *row = new QHBoxLayout;
        row->addWidget(added.extraction);
        row->addWidget(added.archiver);
        row->addStretch();
        // Above the dialog's own buttons, which come last.
        if (auto *layout = qobject_cast<QBoxLayout *>(options->layout()))
            layout->insertLayout(qMax(0, layout->count() - 1), row);
        else if (options->layout())
            options->layout()->addItem(row);
        else
            (new QVBoxLayout(options))->addLayout(row);
    }
    return added;
}

} // namespace salvo
