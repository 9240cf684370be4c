#pragma once
// The well-known folders the program offers as extraction targets, by the
// numbers the rest of the program uses for them.
#include <QString>

namespace salvo {

enum SpecialFolder : int {
    kDesktopFolder = 0,
    kDocumentsFolder = 5,
    kWindowsFolder = 36,
    kSystemFolder = 37,
    kProgramFilesFolder = 38,
};

// The folder's path, without a trailing "/"; empty for an unknown number.
// Desktop and documents follow the XDG user directories; the other three are
// the fixed folders of this table.
QString specialFolderPath(int folder);

} // namespace salvo
