#pragma once
// The zip component's own "ShowResult" switch in the per-user store: while the
// program drives the component it must show no result windows of its own, so
// the switch is turned off at start-up and the user's value is put back at exit.
#include "archivers/Availability.h"
#include "settings/UserStore.h"

#include <optional>

namespace salvo {

class UnzipResultSwitch {
public:
    // With the zip component present: remembers the user's value and turns the
    // switch off, unless it is off already.
    void silence(const Availability &availability, const UserStore &store = UserStore());
    // Puts a remembered value back; an absent value (-1) or 0 is left as it is.
    void restore(const UserStore &store = UserStore()) const;

private:
    std::optional<qint32> m_saved;
};

} // namespace salvo
