#pragma once
// Shows the values of an options table (settings/OptionForms.h) in a dialog's
// controls and reads them back. The controls are found by their object names:
// a QCheckBox, QLineEdit or QComboBox per field, a QRadioButton per choice of
// an option group.
#include "engine/RunUi.h"
#include "settings/OptionForms.h"

#include <QString>

class QDialog;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace salvo {

class OptionControls {
public:
    OptionControls(QWidget *root, const QList<OptionField> &fields);

    // Fills every control; `values` becomes what collect() compares with.
    void show(const OptionValues &values);
    // What the controls say now, in stored form.
    OptionValues collect() const;
    const OptionValues &loaded() const { return m_loaded; }

    // The button of an option group that is chosen, or -1.
    int chosen(const QString &group) const;
    // Chooses a button of an option group; -1 clears the group.
    void choose(const QString &group, int index);

    // Shows the tab page that holds a control and gives it the focus.
    static void focusControl(QTabWidget *tabs, QWidget *control);

private:
    QRadioButton *button(const OptionField &field, int index) const;

    QWidget *m_root;
    const QList<OptionField> &m_fields;
    OptionValues m_loaded;
};

// Lays `tabs` out above an OK (`Btn_OK`, default) and Cancel (`Btn_Cancel`)
// row that accept and reject `dialog`.
void layOutTabsWithOkCancel(QDialog *dialog, QTabWidget *tabs);

// A message box titled "SalvoExtractor".
void showMessageBox(QWidget *parent, const QString &text, MessageIcon icon);

} // namespace salvo
