#pragma once
// What the core needs from the user interface: message boxes, questions and
// status-bar texts. The main window implements it; tests implement it with a
// recorder that also answers the questions. No core routine opens a dialog.
#include <QString>

namespace salvo {

enum class MessageIcon { Information, Warning, Error };

class RunUi {
public:
    virtual ~RunUi() = default;
    // A message box titled "SalvoExtractor".
    virtual void showMessage(const QString &text, MessageIcon icon) = 0;
    // A Yes/No question titled "SalvoExtractor"; true for Yes.
    virtual bool askYesNo(const QString &text) = 0;
    // Text of status-bar panel 1..5.
    virtual void setStatus(int panel, const QString &text) = 0;
};

inline constexpr auto kMessageTitle = "SalvoExtractor";

} // namespace salvo
