#include "config/CertificatePair.h"

#include <filesystem>
#include <vector>

#include "config/HTTPConfiguration.h"
#include "platform/Paths.h"
#include "platform/TLSContext.h"

namespace {

bool Exists(const std::string& hostPath) {
    std::error_code error;
    return std::filesystem::exists(hostPath, error);
}

}  // namespace

CertificatePair::Outcome CertificatePair::MakeWhenMissing(const HTTPConfiguration& config, std::string* message) {
    const std::string certificate = platform::HostPath(config.CertificateFile);
    const std::string key = platform::HostPath(config.KeyFile);
    if (!config.UseTLS || Exists(certificate) || Exists(key)) return Outcome::Present;
    // Browsers warn about it until an operator puts a certificate of a known
    // authority in its place; until then it gives privacy, not identity.
    const std::vector<std::string> names = {config.SiteAddress, platform::TLSContext::HostName(), "localhost",
                                            "127.0.0.1", "::1"};
    platform::MakeDirectories(std::filesystem::path(certificate).parent_path().string());
    platform::MakeDirectories(std::filesystem::path(key).parent_path().string(), 0700);
    std::string fingerprint, error;
    if (!platform::TLSContext::MakeSelfSigned(certificate, key, names, &fingerprint, &error)) {
        *message = "Cannot make a self-signed certificate: " + error;
        return Outcome::Failed;
    }
    *message = "Made a self-signed certificate " + config.CertificateFile + " for " + config.SiteAddress +
               ", valid for one year; SHA-256 fingerprint " + fingerprint;
    return Outcome::Made;
}
