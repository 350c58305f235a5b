#pragma once
// Test support for the gateway tests: scripts written into a test server's
// site, requests, and the parts of a response.
#include <filesystem>
#include <string>

#include "tests/support/TestServer.h"

namespace gateway_test {

using testing_support::TestServer;

// Writes a script below C:\HTTPD (e.g. "CGI-BIN/x.cgi") with the given mode.
inline void WriteScript(TestServer& t, const std::string& relative, const std::string& text,
                        std::filesystem::perms mode = std::filesystem::perms(0755)) {
    t.WriteSite(relative, text);
    std::filesystem::permissions(t.Site(relative), mode);
}

inline std::string Get(TestServer& t, const std::string& target, const std::string& headers = "") {
    return testing_support::WithoutDates(t.Exchange("GET " + target + " HTTP/1.0\r\n" + headers + "\r\n"));
}

inline std::string Post(TestServer& t, const std::string& target, const std::string& body,
                        const std::string& headers = "") {
    return testing_support::WithoutDates(t.Exchange("POST " + target + " HTTP/1.0\r\nContent-Length: " +
                                                    std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body));
}

inline std::string Head(const std::string& response) { return response.substr(0, response.find("\r\n\r\n") + 4); }

inline std::string Body(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

inline std::string StatusDocument(const std::string& reason) {
    return "<H1>" + reason +
           "</H1>\nIf problems persist, contact <A HREF=\"mailto:webmaster@localhost\"><i>&lt;webmaster@localhost"
           "&gt;</i></A>\n<hr><i>Varevavo/1.0b3A (Win32; i386)</i>";
}

// The head of a response whose headers are only the length, the type and
// the two every response carries.
inline std::string PlainHead(const std::string& statusLine, size_t length, const std::string& type) {
    return statusLine + "\r\nContent-Length: " + std::to_string(length) + "\r\n" +
           (type.empty() ? "" : "Content-Type: " + type + "\r\n") +
           "Date: <date>\r\nServer: Varevavo/1.0b3A (Win32; i386)\r\n\r\n";
}

// The worker deletes a request's files when it is done with them, which may
// be a moment after the client has read the whole answer.
inline bool TempDirEmptiesSoon(const testing_support::TestHome& home) {
    return testing_support::WaitUntil([&] { return home.TempFiles().empty(); }, 3000);
}

}  // namespace gateway_test
