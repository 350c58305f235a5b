#include "server/ServerSoftware.h"

#include "config/HTTPConfiguration.h"

const char* ServerSoftware(const HTTPConfiguration& config) {
    return config.SendVersionInfo ? "Varevavo/1.0b3A (Win32; i386)" : "Varevavo (Win32; i386)";
}
