#include "OptionControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace salvo {

OptionControls::OptionControls(QWidget *root, const QList<OptionField> &fields) : m_root(root), m_fields(fields) {}

QRadioButton *OptionControls::button(const OptionField &field, int index) const
{
    return m_root->findChild<QRadioButton *>(field.choices.value(index));
}

void OptionControls::show(const OptionValues &values)
{
    m_loaded = values;
    for (const OptionField &f : m_fields) {
        const QString value = values.value(f.control);
        switch (f.kind) {
        case ControlKind::CheckBox:
        case ControlKind::InvertedCheckBox:
            if (auto *box = m_root->findChild<QCheckBox *>(f.control))
                box->setChecked(isTicked(f, value));
            break;
        case ControlKind::OptionGroup:
            choose(f.control, choiceIndex(f, value));
            break;
        case ControlKind::TextBox:
            if (auto *edit = m_root->findChild<QLineEdit *>(f.control))
                edit->setText(value);
            break;
        case ControlKind::ComboBox:
            if (auto *combo = m_root->findChild<QComboBox *>(f.control)) {
                int index = combo->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive);
                // A stored text that is none of the items is shown as it is, so
                // that an OK without a change keeps it.
                if (index < 0 && !value.isEmpty()) {
                    combo->addItem(value);
                    index = combo->count() - 1;
                }
                combo->setCurrentIndex(index);
            }
            break;
        }
    }
}

OptionValues OptionControls::collect() const
{
    OptionValues values;
    for (const OptionField &f : m_fields) {
        const QString loaded = m_loaded.value(f.control);
        QString value = loaded;
        switch (f.kind) {
        case ControlKind::CheckBox:
        case ControlKind::InvertedCheckBox:
            if (auto *box = m_root->findChild<QCheckBox *>(f.control))
                value = tickedValue(f, box->isChecked(), loaded);
            break;
        case ControlKind::OptionGroup:
            value = choiceValue(chosen(f.control), loaded);
            break;
        case ControlKind::TextBox:
            if (auto *edit = m_root->findChild<QLineEdit *>(f.control))
                value = edit->text();
            break;
        case ControlKind::ComboBox:
            if (auto *combo = m_root->findChild<QComboBox *>(f.control); combo && combo->currentIndex() >= 0)
                value = combo->currentText();
            break;
        }
        values.insert(f.control, value);
    }
    return values;
}

int OptionControls::chosen(const QString &group) const
{
    const OptionField *f = findField(m_fields, group);
    if (!f)
        return -1;
    for (int i = 0; i < f->choices.size(); ++i) {
        if (QRadioButton *b = button(*f, i); b && b->isChecked())
            return i;
    }
    return -1;
}

void OptionControls::choose(const QString &group, int index)
{
    const OptionField *f = findField(m_fields, group);
    if (!f)
        return;
    for (int i = 0; i < f->choices.size(); ++i) {
        QRadioButton *b = button(*f, i);
        if (!b)
            continue;
        // An exclusive button cannot be unchecked while it is exclusive.
        b->setAutoExclusive(false);
        b->setChecked(i == index);
        b->setAutoExclusive(true);
    }
}

void OptionControls::focusControl(QTabWidget *tabs, QWidget *control)
{
    if (!control)
        return;
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isAncestorOf(control))
            tabs->setCurrentIndex(i);
    }
    control->setFocus();
}

void showMessageBox(QWidget *parent, const QString &text, MessageIcon icon)
{
    const QMessageBox::Icon boxIcon = icon == MessageIcon::Error ? QMessageBox::Critical
        : icon == MessageIcon::Warning                          ? QMessageBox::Warning
                                                                : QMessageBox::Information;
    QMessageBox box(boxIcon, QLatin1String(kMessageTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

void layOutTabsWithOkCancel(QDialog *dialog, QTabWidget *tabs)
{
    auto *ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QStringLiteral("Btn_OK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("Btn_Cancel"));
    // Through the virtual accept(), so that a dialog's own checks run first.
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(tabs);
    layout->addLayout(buttons);
}

} // namespace salvo
