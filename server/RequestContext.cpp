#include "server/RequestContext.h"

#include "server/HTTPServer.h"

void RequestContext::LogError(const std::string& message, const HTTPRequest* about) const {
    server.LogError(config, logBatch, message, about);
}

void RequestContext::Trace(const std::string& message, const HTTPRequest* about) const {
    server.Trace(config, logBatch, message, about);
}
