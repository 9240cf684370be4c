#pragma once
// The settings-only launch ("/DDMODE" alone) shows the general options dialog
// and no main window, so the other two options dialogs have no menu to be
// opened from. These buttons, added to that dialog, open them: the extraction
// options on their DD-mode page, and the archiver options, whose main-window
// menu item stays hidden with the archive-creation mode.
class QDialog;
class QPushButton;
class QString;

namespace salvo {

struct SettingsOnlyButtons {
    QPushButton *extraction = nullptr; // `Btn_OptionExtract`
    QPushButton *archiver = nullptr;   // `Btn_OptionArchive`
};

SettingsOnlyButtons addSettingsOnlyButtons(QDialog *options, const QString &myPath);

} // namespace salvo
