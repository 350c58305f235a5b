// The HTTPS part of the server: the certificate and key of the TLS port.

#include <filesystem>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/TLSContext.h"
#include "server/HTTPServer.h"

namespace {

bool Exists(const std::string& hostPath) {
    std::error_code error;
    return std::filesystem::exists(hostPath, error);
}

}  // namespace

bool HTTPServer::LoadCertificate(bool starting) {
    const auto config = Snapshot();
    if (!config->UseTLS) return false;
    const std::string certificate = platform::HostPath(config->CertificateFile);
    const std::string key = platform::HostPath(config->KeyFile);
    if (starting && !Exists(certificate) && !Exists(key)) {
        // A home user gets HTTPS at once; browsers warn until an operator
        // puts a certificate of a known authority in its place.
        const std::vector<std::string> names = {config->SiteAddress, platform::TLSContext::HostName(), "localhost",
                                                "127.0.0.1", "::1"};
        platform::MakeDirectories(std::filesystem::path(certificate).parent_path().string());
        platform::MakeDirectories(std::filesystem::path(key).parent_path().string(), 0700);
        std::string fingerprint, error;
        if (platform::TLSContext::MakeSelfSigned(certificate, key, names, &fingerprint, &error))
            LogError("Made a self-signed certificate " + config->CertificateFile + " for " + config->SiteAddress +
                         ", valid for one year; SHA-256 fingerprint " + fingerprint,
                     nullptr);
        else
            LogError("Cannot make a self-signed certificate: " + error, nullptr);
    }
    std::string error;
    std::shared_ptr<platform::TLSContext> context = platform::TLSContext::Load(certificate, key, &error);
    if (!context) {
        LogError("TLS certificate refused: " + error +
                     (Listener.TLSNow() ? "; the certificate in force stays" : "; HTTPS is not served"),
                 nullptr);
        return false;
    }
    if (starting)
        LogError(platform::TLSContext::KernelTLS()
                     ? "TLS: kernel TLS in use; files go out by sendfile"
                     : "TLS: kernel TLS not available; records are encrypted in user space",
                 nullptr);
    else
        LogError("TLS certificate reloaded; SHA-256 fingerprint " + context->Fingerprint(), nullptr);
    Listener.SetTLS(std::move(context));
    return true;
}
