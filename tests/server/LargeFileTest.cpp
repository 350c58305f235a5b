// Files of 4 GiB and more end to end: sizes, ranges, listings, includes,
// script output and the byte counters past 32 bits. The files are sparse
// (made by extending them), so they cost no disk space; a few known bytes
// stand at the places the tests read.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::TestServer;
using testing_support::BodyOf;
using testing_support::HeaderOf;
using testing_support::StatusOf;

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;
constexpr uint64_t kFiveGiB = uint64_t{5} << 30;
const std::string kKeepAlive = "Connection: Keep-Alive\r\n";

// A sparse file of size bytes with "ABCDE" at 4 GiB (when it reaches that
// far) and "XYZ" as its last bytes.
void MakeLargeFile(const std::string& path, uint64_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    { std::ofstream create(path, std::ios::binary); }
    std::filesystem::resize_file(path, size);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    if (size > kFourGiB + 5) {
        file.seekp(static_cast<std::streamoff>(kFourGiB));
        file.write("ABCDE", 5);
    }
    file.seekp(static_cast<std::streamoff>(size - 3));
    file.write("XYZ", 3);
}

void ExpectPart(const std::string& response, const std::string& contentRange, const std::string& bytes,
                const std::string& what) {
    EXPECT_EQ(StatusOf(response), "HTTP/1.0 206 Partial Content") << what;
    EXPECT_EQ(HeaderOf(response, "Content-Range"), contentRange) << what;
    EXPECT_EQ(HeaderOf(response, "Content-Length"), std::to_string(bytes.size())) << what;
    EXPECT_EQ(BodyOf(response), bytes) << what;
}

}  // namespace

// Files of exactly 4 GiB (whose size has 0 in its low 32 bits) and 5 GiB,
// on one kept-alive connection. The whole 4 GiB file leaves with its true
// length and exactly that many bytes: the next answer starts where the
// length says. Ranges past 4 GiB are answered, and the byte counter
// passes 32 bits in its usual column.
TEST(LargeFiles, WholeAndInRangesPastFourGiB) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    MakeLargeFile(t.Site("HTDOCS/four.bin"), kFourGiB);
    MakeLargeFile(t.Site("HTDOCS/big/five.bin"), kFiveGiB);
    auto client = t.Connect();
    const auto ask = [&client](const std::string& line, const std::string& headers = "") {
        client->Send(line + "\r\n" + kKeepAlive + headers + "\r\n");
        return client->ReadResponse();
    };
    ASSERT_TRUE(client->Send("GET /four.bin HTTP/1.0\r\n" + kKeepAlive + "\r\n"));
    const std::string head = client->ReadHead();
    ASSERT_EQ(StatusOf(head), "HTTP/1.0 200 Document Follows");
    ASSERT_EQ(HeaderOf(head, "Content-Length"), "4294967296");
    // On a loaded machine this takes tens of seconds; should the connection
    // end early, the server's own account of why is in its error log.
    ASSERT_EQ(client->Discard(kFourGiB, 30000), kFourGiB) << "the whole body arrives\n" << t.Log("ERROR.LOG");
    const std::string tail = ask("GET /four.bin HTTP/1.0", "Range: bytes=4294967294-\r\n");
    ASSERT_FALSE(tail.empty()) << "the connection is kept after the whole\n"
                               << head << t.Log("ERROR.LOG") << t.Log("ACCESS.LOG")
                               << "closed: " << client->PeerClosed(100) << "\n" << t.Exchange("GET /~stats HTTP/1.0\r\n\r\n");
    ExpectPart(tail, "bytes 4294967294-4294967295/4294967296", "YZ", "the last bytes, right after the whole");
    const std::string past = ask("GET /four.bin HTTP/1.0", "Range: bytes=4294967296-\r\n");
    EXPECT_EQ(StatusOf(past), "HTTP/1.0 416 Requested Range Not Satisfiable");
    EXPECT_EQ(HeaderOf(past, "Content-Range"), "bytes */4294967296");

    const std::string five = ask("HEAD /big/five.bin HTTP/1.0");
    EXPECT_EQ(StatusOf(five), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(HeaderOf(five, "Content-Length"), "5368709120");
    ExpectPart(ask("GET /big/five.bin HTTP/1.0", "Range: bytes=4294967296-4294967300\r\n"),
               "bytes 4294967296-4294967300/5368709120", "ABCDE", "a range at 4 GiB");
    ExpectPart(ask("GET /big/five.bin HTTP/1.0", "Range: bytes=-3\r\n"), "bytes 5368709117-5368709119/5368709120", "XYZ",
               "the last bytes");

    const uint64_t sent = kFourGiB + 2 + BodyOf(past).size() + 5 + 3;
    const std::string stats = ask("GET /~stats HTTP/1.0");
    EXPECT_NE(stats.find("\nBytes sent:                     " + std::to_string(sent) +
                         "\nBytes received:                          0\n"),
              std::string::npos)
        << stats;
    EXPECT_EQ(t.Server().Statistics.BytesSent.load(), sent + BodyOf(stats).size());
    const std::string log = t.Log("ACCESS.LOG");
    EXPECT_NE(log.find("\"GET /four.bin HTTP/1.0\" 200 4294967296 -"), std::string::npos) << log;
    EXPECT_NE(log.find("\"HEAD /big/five.bin HTTP/1.0\" 200 5368709120 -"), std::string::npos) << log;
}

// Listings (both forms), the fsize directive and a script whose output
// grows past 4 GiB give the whole size.
TEST(LargeFiles, ListingsIncludesAndScriptsShowTheWholeSize) {
    for (const uint32_t index : {1u, 3u}) {
        TestServer t([index](HTTPConfiguration& c) { c.AutoIndex = index; });
        MakeLargeFile(t.Site("HTDOCS/big/five.bin"), kFiveGiB);
        t.WriteSite("HTDOCS/big/small.txt", "12345");
        const std::string page = BodyOf(t.Exchange("GET /big/ HTTP/1.0\r\n\r\n"));
        if (index == 1) {
            EXPECT_NE(page.find(" GMT       5368709120\n"), std::string::npos) << page;
            EXPECT_NE(page.find(" GMT                5\n"), std::string::npos) << "small sizes as before: " << page;
        } else {
            EXPECT_NE(page.find("<TD ALIGN=RIGHT>5368709120</TD>"), std::string::npos) << page;
            EXPECT_NE(page.find("<TD ALIGN=RIGHT>5</TD>"), std::string::npos) << page;
        }
        if (index == 3) continue;

        t.WriteSite("HTDOCS/size.shtml",
                    "<!--#fsize virtual=\"/big/five.bin\" -->|<!--#config sizefmt=\"abbrev\" -->"
                    "<!--#fsize virtual=\"/big/five.bin\" -->");
        EXPECT_EQ(BodyOf(t.Exchange("GET /size.shtml HTTP/1.0\r\n\r\n")), "5368709120|5120M");

        // The script's output file is its standard output; it grows it to
        // 5 GiB after its header line and the blank line (28 bytes), which stay skipped.
        t.WriteSite("CGI-BIN/grow.cgi",
                    "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\ntruncate -s 5368709148 /dev/stdout\n");
        std::filesystem::permissions(t.Site("CGI-BIN/grow.cgi"), std::filesystem::perms(0755));
        const std::string script = t.Exchange("HEAD /cgi-bin/grow.cgi HTTP/1.0\r\n\r\n", 30000);
        EXPECT_EQ(StatusOf(script), "HTTP/1.0 200 Document Follows") << script;
        EXPECT_EQ(HeaderOf(script, "Content-Length"), "5368709120") << script;
    }
}
