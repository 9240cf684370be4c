#pragma once
// SIGTERM, SIGINT and SIGHUP (a desktop logout, a kill from a shell) are turned
// into an ordinary call on the main thread, so that the program closes its
// windows the way the close box does and saves what it saves at exit.
#include <functional>

namespace salvo {

void onTerminationRequest(std::function<void()> handler);

} // namespace salvo
