// Making the server. The constructor lives beside the serving side because
// it makes the server's ConnectionHost, a RequestService: the server's own
// library (server/) then never needs the pipeline's, and the gateways can
// use the server without it.
#include <memory>

#include "pipeline/RequestService.h"
#include "platform/Clock.h"
#include "server/HTTPServer.h"

HTTPServer::HTTPServer(const std::string& setupName)
    : host_(std::make_unique<RequestService>(*this)),
      Listener(host_.get()),
      setupName_(setupName.empty() ? "Primary" : setupName),
      config_(std::make_shared<const HTTPConfiguration>()) {
    // The C library reads the zone once; doing it here, before any worker
    // runs, keeps the workers' local-time breakdowns free of writes.
    platform::ReloadTimeZone();
}
