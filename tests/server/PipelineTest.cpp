// The pipeline's stages on requests built in memory, run through a
// RequestPipeline with no socket and no listening server, for the rules
// that do not need a connection (a port-80 setup, the stage order).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "http/HTTPRequest.h"
#include "http/FileCache.h"
#include "http/HTTPResponse.h"
#include "pipeline/MIMEMemo.h"
#include "pipeline/RequestPipeline.h"
#include "server/HTTPServer.h"
#include "server/RequestContext.h"
#include "tests/support/TestHome.h"

using testing_support::TestHome;

namespace {

struct Pipeline {
    explicit Pipeline(int port = 80) : server("Primary") {
        HTTPConfiguration config;
        config.DefaultConfiguration();
        config.Port = port;
        config.SiteAddress = "www.example.org";
        config.AccessLogMask = config.ErrorLogMask = config.ReferrerLogMask = config.TraceLogMask = 0;
        server.ReplaceConfiguration(config);
        std::filesystem::create_directories(home.DriveC("HTTPD/HTDOCS/dir"));
        std::filesystem::create_directories(home.DriveC("HTTPD/CGI-BIN"));
    }
    HTTPResponse& Run(const std::string& url, int method = MethodGET) {
        request.Valid = 1;
        request.Protocol = HTTP10;
        request.Method = method;
        request.URL = url;
        request.RemoteAddr = "127.0.0.1";
        EXPECT_EQ(Process(&request, &response), 1);
        return response;
    }
    // Runs the pipeline as a serving thread does: under the record live now.
    int Process(HTTPRequest* r, HTTPResponse* a) {
        const auto record = server.Snapshot();
        RequestContext c(server, *record, r, a);
        return RequestPipeline::ProcessRequest(c);
    }
    TestHome home;
    HTTPServer server;
    HTTPRequest request;
    HTTPResponse response;
};

TEST(Pipeline, DirectoryRedirectOnPort80HasNoPort) {
    Pipeline p(80);
    EXPECT_EQ(p.Run("/dir").Header[Hdr::Location], "http://www.example.org/dir/");
    EXPECT_EQ(p.response.Status, 302);
    EXPECT_EQ(p.request.ResourceKind, ResourceRedirect);
}

TEST(Pipeline, DirectoryRedirectOnAnotherPort) {
    Pipeline p(8080);
    EXPECT_EQ(p.Run("/dir").Header[Hdr::Location], "http://www.example.org:8080/dir/");
}

// RedirectToTLS sends a plain GET or HEAD from another machine to the
// same URL on https (the host the client named, the TLS port); a request
// over TLS, another method, or a client on this machine is served.
TEST(Pipeline, RedirectToTLSSendsOtherMachinesToHttps) {
    Pipeline p(8080);
    HTTPConfiguration c = *p.server.Snapshot();
    c.UseTLS = 1;
    c.TLSPort = 8443;
    c.RedirectToTLS = 1;
    p.server.ReplaceConfiguration(c);
    const auto run = [&](const char* from, int method, bool secure, const char* host) {
        p.request.Reset();
        p.response.Reset();
        p.request.Valid = 1;
        p.request.Protocol = HTTP10;
        p.request.Method = method;
        p.request.URL = "/a b.html";
        p.request.Query = "x=1";
        p.request.RemoteAddr = from;
        p.request.LocalAddr = "192.0.2.1";
        p.request.Secure = secure;
        p.request.Header[Hdr::Host] = host;
        p.Process(&p.request, &p.response);
        return std::to_string(p.response.Status) + " " + p.response.Header[Hdr::Location];
    };
    EXPECT_EQ(run("198.51.100.7", MethodGET, false, "site.test:8080"), "301 https://site.test:8443/a%20b.html?x=1");
    EXPECT_EQ(run("198.51.100.7", MethodHEAD, false, "[2001:db8::1]:8080"), "301 https://[2001:db8::1]:8443/a%20b.html?x=1");
    EXPECT_EQ(run("198.51.100.7", MethodGET, false, ""), "301 https://www.example.org:8443/a%20b.html?x=1");
    EXPECT_EQ(run("198.51.100.7", MethodGET, true, "site.test:8443"), "404 ");
    EXPECT_EQ(run("127.0.0.1", MethodGET, false, "site.test:8080"), "404 ");
    EXPECT_EQ(run("::1", MethodGET, false, "[::1]:8080"), "404 ");
    EXPECT_EQ(run("2001:db8::7", MethodGET, false, "[2001:db8::1]:8080"), "301 https://[2001:db8::1]:8443/a%20b.html?x=1");
    EXPECT_EQ(run("192.0.2.1", MethodGET, false, "site.test:8080"), "404 ");
    c.RedirectToTLS = 0;
    p.server.ReplaceConfiguration(c);
    EXPECT_EQ(run("198.51.100.7", MethodGET, false, "site.test:8080"), "404 ");
}

TEST(Pipeline, RequestNotReadIsRefused) {
    Pipeline p;
    HTTPRequest unread;
    HTTPResponse response;
    EXPECT_EQ(p.Process(&unread, &response), 0);
    EXPECT_EQ(p.Process(nullptr, &response), 0);
    EXPECT_EQ(p.server.Statistics.TotalRequests.load(), 0u) << "nothing is counted";
}

TEST(Pipeline, ScriptPathsSplitIntoScriptAndPathInfo) {
    Pipeline p;
    TestHome::WriteFile(p.home.DriveC("HTTPD/CGI-BIN/prog.cgi"), "#!/bin/sh\n");
    p.request.URL = "/cgi-bin/prog.cgi/extra/path";
    const auto record = p.server.Snapshot();
    RequestContext c(p.server, *record, &p.request, &p.response);
    ASSERT_EQ(RequestPipeline::LookupResource(c), 1);
    EXPECT_EQ(p.request.ResourceKind, ResourceCGIBin);
    EXPECT_EQ(p.request.PhysicalPath.rfind("C:\\HTTPD\\CGI-BIN\\prog.cgi", 0), 0u) << p.request.PhysicalPath;
    EXPECT_EQ(p.request.ScriptName, "/cgi-bin/prog.cgi");
    EXPECT_EQ(p.request.PathInfo, "/extra/path");
}

TEST(Pipeline, StatisticsPathIgnoresCase) {
    Pipeline p;
    EXPECT_EQ(p.Run("/~STATS").Status, 200);
    EXPECT_NE(p.response.Entity.Data().find("Web Server Statistics for www.example.org"), std::string::npos);
}

TEST(Pipeline, HeadOfAnErrorHasNoBody) {
    Pipeline p;
    HTTPResponse& r = p.Run("/missing", MethodHEAD);
    EXPECT_EQ(r.Status, 404);
    EXPECT_EQ(r.Entity.Type(), EntityNone);
    EXPECT_FALSE(r.Header[Hdr::ContentLength].empty());
    EXPECT_EQ(p.server.Statistics.BytesSent.load(), 0u) << "no bytes are counted for a HEAD";
}

TEST(Pipeline, OverloadIsReportedFirst) {
    Pipeline p;
    p.server.Overloaded = 1;
    p.server.Available = 0;
    HTTPResponse& r = p.Run("/");
    EXPECT_EQ(r.Status, 503);
    EXPECT_EQ(r.Reason, "Server overloaded");
    EXPECT_TRUE(r.Header[Hdr::Connection].empty());
}

// Keep-alive is one decision, and the Connection header says that decision.
TEST(Pipeline, KeepAliveIsDecidedOnceAndTheHeaderSaysIt) {
    Pipeline p;
    HTTPConfiguration config = *p.server.Snapshot();
    config.UseKeepAlive = 1;
    p.server.ReplaceConfiguration(config);
    TestHome::WriteFile(p.home.DriveC("HTTPD/HTDOCS/a.txt"), "a");
    p.request.Header[Hdr::Connection] = "keep-alive";
    HTTPResponse& granted = p.Run("/a.txt");
    ASSERT_EQ(granted.Status, 200) << granted.Reason;
    EXPECT_TRUE(granted.KeepAlive);
    EXPECT_EQ(granted.Header[Hdr::Connection], "Keep-Alive");

    p.request.Reset();
    p.response.Reset();
    EXPECT_FALSE(p.response.KeepAlive) << "a reset response keeps nothing";
    p.server.Overloaded = 1;
    p.request.Header[Hdr::Connection] = "Keep-Alive";
    HTTPResponse& refused = p.Run("/a.txt");
    EXPECT_FALSE(refused.KeepAlive);
    EXPECT_EQ(refused.Header[Hdr::Connection], "close") << "the client that asked hears that it closes";
}

// A request works with the record in its context from start to end, not
// with whatever the server holds live by then.
TEST(Pipeline, StagesReadTheRecordOfTheirContextOnly) {
    Pipeline p;
    HTTPConfiguration moved = *p.server.Snapshot();
    moved.Redir.emplace_back("/old", "http://elsewhere.example/new");
    const auto record = std::make_shared<const HTTPConfiguration>(moved);
    p.request.Valid = 1;
    p.request.Protocol = HTTP10;
    p.request.Method = MethodGET;
    p.request.URL = "/old/page.html";
    RequestContext c(p.server, *record, &p.request, &p.response);
    ASSERT_EQ(RequestPipeline::ProcessRequest(c), 1);
    EXPECT_EQ(p.response.Status, 302);
    EXPECT_EQ(p.response.Header[Hdr::Location], "http://elsewhere.example/new/page.html");
    EXPECT_TRUE(p.server.Snapshot()->Redir.empty()) << "the live record never had the entry";
}

// A serving thread's services reach the stages through the context: the
// document comes through its cache, its type from its memory, and its
// access line waits in its batch until the batch is written.
TEST(Pipeline, AThreadsServicesServeThroughTheContext) {
    Pipeline p;
    HTTPConfiguration config = *p.server.Snapshot();
    config.AccessLogMask = 1;
    config.DefaultCharset = "utf-8";
    p.server.ReplaceConfiguration(config);
    ASSERT_EQ(p.server.AccessLog.StartLogFile("C:\\access.log"), 1);
    TestHome::WriteFile(p.home.DriveC("HTTPD/HTDOCS/a.txt"), "cached");
    const auto record = p.server.Snapshot();
    FileCache cache;
    MIMEMemo types;
    types.Bind(record);
    EventLog::Batch batch;
    p.request.Valid = 1;
    p.request.Protocol = HTTP10;
    p.request.Method = MethodGET;
    p.request.URL = "/a.txt";
    RequestContext c(p.server, *record, &p.request, &p.response);
    c.cache = &cache;
    c.types = &types;
    c.logBatch = &batch;
    ASSERT_EQ(RequestPipeline::ProcessRequest(c), 1);
    ASSERT_EQ(p.response.Status, 200) << p.response.Reason;
    EXPECT_EQ(p.response.Header[Hdr::ContentType], "text/plain; charset=utf-8");
    EXPECT_EQ(cache.Size(), 1u) << "the document was looked up through the thread's cache";
    const std::string log = p.home.DriveC("access.log");
    EXPECT_EQ(TestHome::ReadFile(log), "") << "the line waits for the batch's end";
    batch.Flush();
    const std::string lines = TestHome::ReadFile(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
    p.server.AccessLog.StopLogFile();
}

}  // namespace
