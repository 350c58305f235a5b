// The HTTPS part of the server: the certificate and key of the TLS port.

#include "config/CertificatePair.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/TLSContext.h"
#include "server/HTTPServer.h"

bool HTTPServer::LoadCertificate(bool starting) {
    const auto config = Snapshot();
    if (!config->UseTLS) return false;
    std::string message;
    if (starting && CertificatePair::MakeWhenMissing(*config, &message) != CertificatePair::Outcome::Present)
        LogError(message, nullptr);
    std::string error;
    std::shared_ptr<platform::TLSContext> context;
    if (config->AutoCertificate) {
        // Until the first certificate is obtained, the named pair serves.
        const std::vector<std::string> names = AutoCertificate::Names(*config);
        platform::FileInfo info;
        if (!names.empty() && platform::GetFileInfo(AutoCertificate::CertificatePath(names[0]), &info)) {
            context = platform::TLSContext::Load(AutoCertificate::CertificatePath(names[0]),
                                                 AutoCertificate::KeyPath(names[0]), &error);
            if (!context) LogError("Automatic certificate refused: " + error + "; the named pair is tried", nullptr);
        }
    }
    if (!context)
        context = platform::TLSContext::Load(platform::HostPath(config->CertificateFile),
                                             platform::HostPath(config->KeyFile), &error);
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
