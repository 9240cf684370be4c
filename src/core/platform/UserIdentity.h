#pragma once
#include <QString>

namespace salvo {

// The numeric id of the user running the program, as text.
QString currentUserId();

// Full path of the hand-off socket of this user: in $XDG_RUNTIME_DIR when it is
// set (a private folder), else in the temporary folder with the user id in the
// name so that two users never meet.
QString handoffSocketPath(const QString &name);

} // namespace salvo
