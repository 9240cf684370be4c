#pragma once
// The general options dialog ("Option"): file associations, Send To, the
// desktop shortcut and the folder menu entry, the completion sound and notice,
// the sort order, the font size and the mail notice. Load fills the controls,
// OK writes the settings and applies their desktop side, Cancel discards.
// Opened alone by the settings-only launch (launch mode DdModeSetting), where
// closing it ends the program.
#include "app/GeneralOptions.h"
#include "app/shell/FileAssociations.h"
#include "archivers/Availability.h"
#include "engine/RunUi.h"
#include "settings/Modes.h"

#include <QDialog>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QTabWidget;

namespace salvo {

class GeneralOptionsDialog : public QDialog {
    Q_OBJECT
public:
    GeneralOptionsDialog(QString myPath, const Availability &availability, QWidget *parent = nullptr,
                         ShellProgram program = ShellProgram::current());

    LaunchMode launchMode = LaunchMode::Normal;

    // The controls' state, and filling them.
    GeneralOptions options() const;
    void setOptions(const GeneralOptions &options);

    // Message boxes titled "SalvoExtractor" and the sound file chooser; tests replace them.
    std::function<void(const QString &text, MessageIcon icon)> showMessage;
    std::function<QString()> chooseSoundFile;

    void accept() override;

private:
    void buildAssociationsPage(QWidget *page);
    void buildOtherPage(QWidget *page);
    void buildMailPage(QWidget *page);
    void guardNumberBox(QLineEdit *box);
    void selectAllWithArchiver();

    QString m_myPath;
    Availability m_availability;
    ShellProgram m_program;
    FileAssociations m_associations;

    QTabWidget *m_tabs = nullptr;
    QList<QCheckBox *> m_linkBoxes;
    QRadioButton *m_modeNormal = nullptr, *m_modeEasy = nullptr;
    QCheckBox *m_useSendTo = nullptr, *m_useDesktop = nullptr, *m_useFolderMenu = nullptr;
    QRadioButton *m_fontNormal = nullptr, *m_fontLarge = nullptr;
    QCheckBox *m_useSound = nullptr, *m_endNotice = nullptr;
    QLineEdit *m_soundFile = nullptr;
    QButtonGroup *m_sort = nullptr, *m_smtpAuth = nullptr;
    QCheckBox *m_useMail = nullptr, *m_useSmtpAuth = nullptr, *m_usePop = nullptr;
    QLineEdit *m_smtpServer = nullptr, *m_port = nullptr, *m_timeOut = nullptr, *m_smtpUser = nullptr,
              *m_smtpPassword = nullptr, *m_mailTo = nullptr, *m_mailFrom = nullptr, *m_subject = nullptr,
              *m_popServer = nullptr, *m_popUser = nullptr, *m_popPassword = nullptr;
};

} // namespace salvo
