// A request sent again byte for byte is answered from the loop's memo of its
// last answer: the same bytes as a fresh answer (the Date of the moment),
// counted and logged as one, and never an answer that something since has
// made wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/HTTPServer.h"
#include "tests/support/TestServer.h"

using testing_support::BodyOf;
using testing_support::HeaderOf;
using testing_support::Occurrences;
using testing_support::StatusOf;
using testing_support::TestServer;
using testing_support::WaitUntil;

namespace {

// The response with its Date value taken out.
std::string WithoutDate(std::string response) {
    const size_t at = response.find("\r\nDate: ");
    if (at != std::string::npos) response.erase(at + 8, response.find("\r\n", at + 2) - at - 8);
    return response;
}

// The lines of a log with each one's bracketed time taken out.
std::vector<std::string> Untimed(const std::string& log) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < log.size();) {
        const size_t end = std::min(log.find('\n', start), log.size());
        std::string line = log.substr(start, end - start);
        const size_t open = line.find('[');
        if (open != std::string::npos) line.erase(open, line.find(']', open) - open + 1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

TEST(AnswerMemo, TheSameRequestIsAnsweredAlikeCountedAndLogged) {
    TestServer t([](HTTPConfiguration& c) {
        c.UseKeepAlive = 1;
        c.AccessLogMask = 1;
        c.ReferrerLogMask = 1;
    });
    t.WriteSite("HTDOCS/m.txt", "memo");
    auto client = t.Connect();
    const std::string request =
        "GET /m.txt HTTP/1.0\r\nConnection: Keep-Alive\r\nUser-Agent: an \"agent\"\r\n"
        "Referer: http://elsewhere.example/page\r\n\r\n";
    std::vector<std::string> answers;
    for (int i = 0; i < 4; ++i) {
        client->Send(request);
        answers.push_back(client->ReadResponse());
    }
    client->Send("HEAD /m.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
    const std::string head = client->ReadHead();
    for (const std::string& answer : answers) EXPECT_EQ(WithoutDate(answer), WithoutDate(answers[0]));
    EXPECT_EQ(BodyOf(answers[0]), "memo");
    EXPECT_EQ(HeaderOf(answers[0], "Connection"), "Keep-Alive");
    EXPECT_EQ(StatusOf(head), "HTTP/1.0 200 Document Follows");
    EXPECT_EQ(head.find("memo"), std::string::npos) << "a HEAD is no GET";

    EXPECT_EQ(t.Server().Statistics.TotalRequests.load(), 5u);
    EXPECT_EQ(t.Server().Statistics.BytesSent.load(), 4u * 4u);
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(t.Log("ACCESS.LOG"), "\n") >= 5; })) << t.Log("ACCESS.LOG");
    const std::vector<std::string> lines = Untimed(t.Log("ACCESS.LOG"));
    ASSERT_GE(lines.size(), 5u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i], lines[0]);
    EXPECT_NE(lines[0].find("\"GET /m.txt HTTP/1.0\" 200 4 \"http://elsewhere.example/page\" \"an \\\"agent\\\"\""),
              std::string::npos)
        << lines[0];
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(t.Log("REFERRER.LOG"), "elsewhere.example") == 4; }))
        << t.Log("REFERRER.LOG");

    // The Date is the moment's, not the first answer's.
    EXPECT_TRUE(WaitUntil(
        [&] {
            client->Send(request);
            return HeaderOf(client->ReadResponse(), "Date") != HeaderOf(answers[0], "Date");
        },
        5000));
}

TEST(AnswerMemo, ChangedFilesCopiesAndSettingsAreSeenAtOnce) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    std::string text;
    while (text.size() < 3000) text += "p { margin: 0 auto; } /* " + std::to_string(text.size()) + " */\n";
    t.WriteSite("HTDOCS/s.css", text);
    auto client = t.Connect();
    const auto get = [&] {
        client->Send("GET /s.css HTTP/1.0\r\nConnection: Keep-Alive\r\nAccept-Encoding: gzip\r\n\r\n");
        return client->ReadResponse();
    };
    for (int i = 0; i < 3; ++i) EXPECT_EQ(HeaderOf(get(), "Content-Encoding"), "gzip") << "compressed here";

    t.WriteSite("HTDOCS/s.css.gz", "PRECOMPRESSED");
    EXPECT_EQ(BodyOf(get()), "PRECOMPRESSED") << "a copy that appeared beside it";
    EXPECT_EQ(BodyOf(get()), "PRECOMPRESSED");
    std::filesystem::remove(t.Site("HTDOCS/s.css.gz"));
    t.WriteSite("HTDOCS/s.css", "short");
    EXPECT_EQ(BodyOf(get()), "short") << "the copy gone, the document rewritten";
    EXPECT_EQ(BodyOf(get()), "short");

    t.Server().ReplaceConfiguration([&] {
        HTTPConfiguration c = *t.Server().Snapshot();
        c.UseKeepAlive = 0;
        return c;
    }());
    const std::string closing = get();
    EXPECT_EQ(BodyOf(closing), "short");
    EXPECT_EQ(HeaderOf(closing, "Connection"), "close") << "the reloaded settings keep nothing alive";
    EXPECT_TRUE(client->PeerClosed());
}

TEST(AnswerMemo, AHeadCutShortByTheClientIsNoStartOfALongerOne) {
    TestServer t([](HTTPConfiguration& c) { c.UseKeepAlive = 1; });
    t.WriteSite("HTDOCS/c.txt", "cut");
    const std::string start = "GET /c.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n";
    // Kept alive: each answer's head is read alone.
    const auto ask = [&](const std::string& request) {
        auto client = t.Connect();
        client->Send(request);
        return client->ReadHead();
    };
    const std::string tag = HeaderOf(ask(start + "\r\n"), "ETag");
    ASSERT_FALSE(tag.empty());
    // Answered again and again on each loop, then asked with one more line.
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 3; ++i) {
            auto cut = t.Connect();
            cut->Send(start);
            cut->ShutdownWrite();
            EXPECT_EQ(StatusOf(cut->ReadAll()), "HTTP/1.0 200 Document Follows");
        }
        EXPECT_EQ(StatusOf(ask(start + "If-None-Match: " + tag + "\r\n\r\n")), "HTTP/1.0 304 Use Cache");
    }
}
