#pragma once
// Starts outside programs: the console extractors, the component installer and
// the folder opened at the end of a run. Nothing goes through a shell: a command
// line is split into the program and its arguments by the rules below and
// started with an argument list; a folder or document is handed to the
// desktop's handler (xdg-open).
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace salvo {

class ProcessRunner {
public:
    // While set, a waiting runAndWait stops waiting (and ends the program it waits for).
    std::atomic<bool> cancel{false};
    // Another flag that also stops the wait (the run's stop request).
    void linkCancel(const std::atomic<bool> *flag) { m_linked = flag; }

    // Splits the line at the first blank whose left part names an existing file
    // or a program on PATH (the whole line when none does) and starts it: a
    // program with the rest of the line as its arguments, a folder or document
    // through the desktop's handler. Returns whether it started.
    bool start(const QString &commandLine);
    // As start, then waits for a program to end, looking every 100 ms whether
    // the wait is cancelled.
    bool runAndWait(const QString &commandLine);
    // The exit code of the program runAndWait last waited for; -1 when it did
    // not start, was not a program, crashed or was ended by a cancel.
    int exitCode() const { return m_exitCode; }

    // The handler that opens folders and documents (xdg-open; tests replace it).
    static void setDesktopOpener(std::function<bool(const QString &path)> opener);
    // Hands an existing folder, exactly as named, to the desktop's handler;
    // nothing is ever started as a program. False when it is no folder.
    static bool openFolder(const QString &folder);
    // Hands an existing regular file to the desktop's handler, which opens it
    // by its type; never started as a program.
    static bool openDocument(const QString &file);

private:
    bool launch(const QString &commandLine, bool wait);
    bool cancelled() const { return cancel || (m_linked && *m_linked); }

    const std::atomic<bool> *m_linked = nullptr;
    int m_exitCode = -1;
};

// True when the name (quotes removed) is an existing file or folder, or a
// program found on PATH.
bool isFileOrProgram(const QString &name);

// The path in double quotes when it holds a blank; cut to 260 characters first
// and at its first NUL.
QString quoteIfBlank(const QString &path);

// Splits parameters into arguments by the shared command-line rule: double
// quotes group, blanks separate.
QStringList splitArguments(const QString &parameters);

} // namespace salvo
