#pragma once
// The extraction options dialog ("Option-Extract-"): the settings of the
// batch run, of DD mode and of extraction from the content viewer, on four
// tab pages. The controls, their keys and the checks at OK are the table of
// settings/OptionForms.h; this window lays them out and applies the rules that
// act while it is open (the viewer's double-click rule, the deletion warning,
// the folder buttons).
#include "OptionControls.h"
#include "settings/Modes.h"

#include <QDialog>

#include <functional>

class QTabWidget;

namespace salvo {

class ExtractionOptionsDialog : public QDialog {
    Q_OBJECT
public:
    // With LaunchMode::DdModeSetting (the settings-only launch) the DD-mode page
    // comes first.
    explicit ExtractionOptionsDialog(QString myPath, QWidget *parent = nullptr,
                                     LaunchMode launchMode = LaunchMode::Normal);

    // The main window's target is the usual folder: "いつもの解凍先" must be set.
    void setNormalTargetIsUsualFolder(bool usual) { m_normalTargetIsUsualFolder = usual; }

    // Asks for a folder ("フォルダの選択"); empty when cancelled. Tests replace it.
    std::function<QString(const QString &title, const QString &start)> chooseFolder;
    // Shows a message box; tests replace it.
    std::function<void(const QString &text, MessageIcon icon)> notify;
    // Makes (true) or removes (false) the DD-mode desktop shortcut
    // "SlvoEasyExtract.desktop" and says when that failed; false then.
    std::function<bool(bool make)> applyDdModeShortcut;

    QTabWidget *tabs() const { return m_tabs; }
    OptionControls &controls() { return m_controls; }

    void accept() override;

private:
    QWidget *buildCommonPage();
    QWidget *buildNormalPage();
    QWidget *buildDdModePage();
    QWidget *buildViewerPage();
    void applyViewerPlaceRule();
    void pickFolder(const QString &edit);

    QString m_myPath;
    QTabWidget *m_tabs = nullptr;
    OptionControls m_controls;
    bool m_normalTargetIsUsualFolder = false;
};

} // namespace salvo
