#include "platform/ServiceManager.h"

#ifdef VAREVAVO_WITH_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace platform {
namespace {

void Notify([[maybe_unused]] const std::string& state) {
#ifdef VAREVAVO_WITH_SYSTEMD
    ::sd_notify(0, state.c_str());
#endif
}

}  // namespace

void NotifyReady(const std::string& status) { Notify("READY=1\nSTATUS=" + status); }

void NotifyReloading() { Notify("RELOADING=1"); }

void NotifyStopping() { Notify("STOPPING=1"); }

}  // namespace platform
