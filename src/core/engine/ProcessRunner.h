#pragma once
// Starts outside programs: console extractors, and the folder opened at the end
// of a run. Nothing goes through a shell: a command line is split into the
// program and its arguments by the rules below and started with an argument
// list; a folder or document is handed to the desktop's handler (xdg-open).
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace salvo {

inline constexpr int kWindowHidden = 0;
inline constexpr int kWindowNormal = 1;

class cExecute {
public:
    // While set, a waiting ShellX stops waiting (and ends the program it waits for).
    std::atomic<bool> Cancel{false};

    // Splits the line at the first blank whose left part names an existing file
    // (the whole line when none does), starts it, and waits for it to end when
    // asked, polling every 100 ms. Returns whether it started.
    bool ShellX(const QString &commandLine, int windowStyle, void *owner, bool wait);

    // Another flag that also stops the wait (the run's stop request).
    void linkCancel(const std::atomic<bool> *flag) { m_linked = flag; }

    // The handler that opens folders and documents (xdg-open; tests replace it).
    static void setDesktopOpener(std::function<bool(const QString &path)> opener);

private:
    bool cancelled() const { return Cancel || (m_linked && *m_linked); }

    const std::atomic<bool> *m_linked = nullptr;
};

// True when the name (quotes removed) is an existing file or folder, or a
// program found on PATH.
bool fileTest(const QString &name);

// The path in double quotes when it holds a blank; cut to 260 characters first
// and at its first NUL.
QString quoteIfBlank(const QString &path);

// Splits parameters into arguments: double quotes group, blanks separate.
QStringList splitArguments(const QString &parameters);

} // namespace salvo
