#pragma once
// What the server calls itself. The Server header, a script's
// SERVER_SOFTWARE and the statistics page all say the same, with the
// version or without it as the setup's SendVersionInfo asks.

class HTTPConfiguration;

// "Varevavo/1.0b3A (Win32; i386)" with SendVersionInfo, else
// "Varevavo (Win32; i386)".
const char* ServerSoftware(const HTTPConfiguration& config);
