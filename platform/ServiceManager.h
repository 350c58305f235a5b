#pragma once
// Tells the service manager that started the program (systemd, through the
// socket it names in NOTIFY_SOCKET) how the service stands, so that a unit
// of Type=notify counts as started only once the port accepts. Outside a
// service manager these do nothing.

#include <string>

namespace platform {

// The service is ready; status is the line "systemctl status" shows.
void NotifyReady(const std::string& status);
// The service re-reads its settings; NotifyReady tells the end of it.
void NotifyReloading();
// The service is shutting down.
void NotifyStopping();

}  // namespace platform
