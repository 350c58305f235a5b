// Making the server. The constructor lives beside the pipeline because it
// makes the server's ConnectionHost, whose calls run the pipeline
// (RequestService.cpp): the server's own library (server/) then never needs
// the pipeline's, and the gateways can use the server without it.
#include <memory>

#include "platform/Clock.h"
#include "server/HTTPServer.h"

namespace {

// Every call of the connection core goes to the server's member of the same
// name, but the core's two events, which become the front end's notices.
class ServerHost final : public ConnectionHost {
public:
    explicit ServerHost(HTTPServer* server) : server_(server) {}

    Settings CoreSettings() const override { return server_->CoreSettings(); }
    bool AcceptsConnections() const override { return server_->AcceptsConnections(); }
    void SetOverloaded(bool overloaded) override { server_->SetOverloaded(overloaded); }
    void ReportOverload() override { server_->ReportOverload(); }
    void ReportAcceptFailure(int error) override { server_->ReportAcceptFailure(error); }
    void SlotsChanged() override { server_->RequestTitleUpdate(); }
    void AnswerSent() override { server_->RequestRepaint(); }
    Step Serve(Connection& connection, platform::Reply* reply, After* after, bool turnAway) override {
        return server_->Serve(connection, reply, after, turnAway);
    }
    After ServeBlocking(Connection& connection, bool turnAway) override {
        return server_->ServeBlocking(connection, turnAway);
    }
    void BatchStarting() override { server_->BatchStarting(); }
    void WriteLogLines() override { server_->WriteLogLines(); }
    void ThreadStarting(bool loop) override { server_->ThreadStarting(loop); }
    void ThreadEnding(bool loop) override { server_->ThreadEnding(loop); }

private:
    HTTPServer* server_;
};

}  // namespace

HTTPServer::HTTPServer(const std::string& setupName)
    : host_(std::make_unique<ServerHost>(this)),
      Listener(host_.get()),
      setupName_(setupName.empty() ? "Primary" : setupName),
      config_(std::make_shared<const HTTPConfiguration>()) {
    // The C library reads the zone once; doing it here, before any worker
    // runs, keeps the workers' local-time breakdowns free of writes.
    platform::ReloadTimeZone();
}
