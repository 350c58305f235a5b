#pragma once
// The certificate and key a setup names for HTTPS, as files: made
// self-signed when neither exists, so that a new home serves HTTPS from its
// first start. The server does it at start; varevavo-setup does it for the
// service before its first start, as the user the service runs as.

#include <string>

class HTTPConfiguration;

class CertificatePair {
public:
    enum class Outcome { Present, Made, Failed };
    // With UseTLS on and neither CertificateFile nor KeyFile present, makes
    // a self-signed pair there (P-256, a year, for SiteAddress, this host's
    // name, localhost, 127.0.0.1 and ::1; the key mode 0600, in folders it
    // creates). *message says what was made (with the SHA-256 fingerprint)
    // or why it failed; it is left alone with Present (UseTLS off, or a
    // file there already).
    static Outcome MakeWhenMissing(const HTTPConfiguration& config, std::string* message);
};
