#pragma once
// Files and pages handed to the desktop's opener, and the manual installed
// with the program.
#include <QString>

#include <functional>

class QObject;
class QUrl;

namespace salvo {

// Opens `url` with the desktop's opener (xdg-open). `failed` runs on the
// window's thread when nothing could open it: xdg-open is missing, or it ends
// with a failure (no program handles the type). xdg-open is waited for in the
// background, since it may stay until the viewer it started is closed; it is
// never ended by the program. `failed` is dropped when `context` is gone.
void openOnDesktop(const QUrl &url, QObject *context, std::function<void()> failed);

// Opens files and pages; `failed` runs when they could not be opened. Windows
// hold one of these so that tests can replace it.
using DesktopOpenFn = std::function<void(const QUrl &url, std::function<void()> failed)>;

// The start page of the user manual beside the program (a portable folder or
// the build tree) or where the package installs it; empty when there is none.
QString installedManual();

} // namespace salvo
