// Entity tags, precompressed copies and compression on the fly, end to end:
// a real server, real files, the bytes decoded again by the libraries.
#include <brotli/decode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <filesystem>
#include <string>

#include "http/FileCache.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestServer.h"

using testing_support::BodyOf;
using testing_support::HeaderOf;
using testing_support::StatusOf;
using testing_support::TestHome;
using testing_support::TestServer;
using testing_support::WithoutDates;

namespace {

// Text that compresses well, distinct for each seed.
std::string Text(size_t size, int seed) {
    std::string text;
    while (text.size() < size) text += "p" + std::to_string(text.size() % 97 + seed) + " { margin: 0 auto; }\n";
    text.resize(size);
    return text;
}

// body decoded from coding ("gzip", "br", "zstd"); "<undecodable>" on failure.
std::string Decode(const std::string& coding, const std::string& body) {
    std::string out(1 << 22, '\0');
    bool done = false;
    if (coding == "gzip") {
        z_stream s{};
        inflateInit2(&s, 15 + 16);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
        s.avail_in = static_cast<uInt>(body.size());
        s.next_out = reinterpret_cast<Bytef*>(out.data());
        s.avail_out = static_cast<uInt>(out.size());
        done = inflate(&s, Z_FINISH) == Z_STREAM_END;
        out.resize(s.total_out);
        inflateEnd(&s);
    } else if (coding == "br") {
        size_t size = out.size();
        done = BrotliDecoderDecompress(body.size(), reinterpret_cast<const uint8_t*>(body.data()), &size,
                                       reinterpret_cast<uint8_t*>(out.data())) == BROTLI_DECODER_RESULT_SUCCESS;
        out.resize(size);
    } else if (coding == "zstd") {
        const size_t size = ZSTD_decompress(out.data(), out.size(), body.data(), body.size());
        done = !ZSTD_isError(size);
        out.resize(done ? size : 0);
    }
    return done ? out : "<undecodable>";
}

std::string Get(TestServer& t, const std::string& path, const std::string& headers = "",
                const std::string& method = "GET") {
    return t.Exchange(method + " " + path + " HTTP/1.0\r\n" + headers + "\r\n");
}

std::string Accept(const std::string& codings) { return "Accept-Encoding: " + codings + "\r\n"; }

}  // namespace

TEST(Validators, IfNoneMatchComesBeforeIfModifiedSince) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", "0123456789");
    const std::string whole = Get(t, "/d.txt");
    const std::string tag = HeaderOf(whole, "ETag");
    const std::string stamp = HeaderOf(whole, "Last-Modified");
    ASSERT_EQ(tag.front(), '"');
    const std::string byDate = WithoutDates(Get(t, "/d.txt", "If-Modified-Since: " + stamp + "\r\n"));
    EXPECT_EQ(StatusOf(byDate), "HTTP/1.0 304 Use Cache");
    EXPECT_EQ(HeaderOf(byDate, "ETag"), "<etag>");
    for (const std::string& value : {tag, "W/" + tag, "\"other\", " + tag, std::string("*")}) {
        const std::string got = WithoutDates(Get(t, "/d.txt", "If-None-Match: " + value + "\r\n"));
        EXPECT_EQ(got, byDate) << value << ": the head of every 304, and no body";
    }
    const std::string other = Get(t, "/d.txt", "If-None-Match: \"other\"\r\nIf-Modified-Since: " + stamp + "\r\n");
    EXPECT_EQ(BodyOf(other), "0123456789") << "a tag that does not match outweighs a date that does";

    t.WriteSite("HTDOCS/d.txt", "9876543210");
    const std::string changed = Get(t, "/d.txt", "If-None-Match: " + tag + "\r\n");
    EXPECT_EQ(BodyOf(changed), "9876543210");
    EXPECT_NE(HeaderOf(changed, "ETag"), tag) << "the same size, rewritten";

    t.WriteSite("HTDOCS/p.shtml", "<!--#echo var=\"DOCUMENT_NAME\"-->");
    t.WriteSite("HTDOCS/list/a.txt", "a");
    t.WriteSite("CGI-BIN/s.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nhello'\n");
    std::filesystem::permissions(t.Site("CGI-BIN/s.cgi"), std::filesystem::perms(0755));
    for (const char* path : {"/p.shtml", "/list/", "/cgi-bin/s.cgi", "/~stats"}) {
        const std::string got = Get(t, path, "If-None-Match: *\r\n" + Accept("gzip"));
        EXPECT_EQ(StatusOf(got), "HTTP/1.0 200 Document Follows") << path;
        EXPECT_EQ(HeaderOf(got, "ETag"), "") << path;
        EXPECT_EQ(HeaderOf(got, "Content-Encoding"), "") << path;
    }
}

TEST(Validators, IfRangeWithATagSendsThePartOnlyWhenItMatchesStrongly) {
    TestServer t;
    t.WriteSite("HTDOCS/d.txt", "0123456789");
    const std::string tag = HeaderOf(Get(t, "/d.txt"), "ETag");
    EXPECT_EQ(BodyOf(Get(t, "/d.txt", "Range: bytes=8-\r\nIf-Range: " + tag + "\r\n")), "89");
    EXPECT_EQ(BodyOf(Get(t, "/d.txt", "Range: bytes=8-\r\nIf-Range: W/" + tag + "\r\n")), "0123456789");
    EXPECT_EQ(BodyOf(Get(t, "/d.txt", "Range: bytes=8-\r\nIf-Range: \"older\"\r\n")), "0123456789");
}

TEST(Compression, ClientsThatAskForNoCodingGetTheBytesOfASetupWithout) {
    const auto site = [](TestServer& t) {
        t.WriteSite("HTDOCS/s.css", Text(20000, 1));
        t.WriteSite("HTDOCS/small.css", Text(500, 1));
    };
    TestServer on;
    TestServer off([](HTTPConfiguration& c) { c.Compression = 0; });
    site(on);
    site(off);
    for (const char* path : {"/s.css", "/small.css"}) {
        EXPECT_EQ(WithoutDates(Get(on, path)), WithoutDates(Get(off, path))) << path;
        EXPECT_EQ(HeaderOf(Get(off, path, Accept("gzip")), "Content-Encoding"), "") << path;
    }
    EXPECT_EQ(HeaderOf(Get(on, "/s.css"), "Vary"), "");
}

TEST(Compression, EachCodingOnceAndNeverOlderThanTheFile) {
    TestServer t;
    std::string text = Text(100 * 1024, 1);
    t.WriteSite("HTDOCS/s.css", text);
    const std::string plainTag = HeaderOf(Get(t, "/s.css"), "ETag");
    for (const std::string coding : {"gzip", "br", "zstd"}) {
        const std::string got = Get(t, "/s.css", Accept(coding));
        EXPECT_EQ(HeaderOf(got, "Content-Encoding"), coding);
        EXPECT_EQ(HeaderOf(got, "Vary"), "Accept-Encoding");
        EXPECT_EQ(HeaderOf(got, "Content-Type"), "text/css");
        EXPECT_EQ(HeaderOf(got, "Content-Length"), std::to_string(BodyOf(got).size()));
        EXPECT_LT(BodyOf(got).size(), text.size() * 3 / 10) << coding << ": at least 70% fewer bytes";
        EXPECT_EQ(Decode(coding, BodyOf(got)), text) << coding;
        EXPECT_NE(HeaderOf(got, "ETag"), plainTag) << coding;
        const std::string head = Get(t, "/s.css", Accept(coding), "HEAD");
        EXPECT_EQ(HeaderOf(head, "Content-Length"), std::to_string(BodyOf(got).size())) << coding;
        const std::string again = Get(t, "/s.css", Accept(coding) + "If-None-Match: " + HeaderOf(got, "ETag") + "\r\n");
        EXPECT_EQ(StatusOf(again), "HTTP/1.0 304 Use Cache") << coding;
        EXPECT_EQ(HeaderOf(again, "Content-Encoding"), "") << coding;
    }
    const std::string gzip = BodyOf(Get(t, "/s.css", Accept("gzip, deflate, br, zstd")));
    EXPECT_EQ(Decode("zstd", gzip), text) << "a tie goes to zstd";
    EXPECT_NE(t.Log("ACCESS.LOG").find("\"GET /s.css HTTP/1.0\" 200 " + std::to_string(gzip.size()) + " "),
              std::string::npos)
        << "the log counts the bytes sent";

    // Rewritten in place, to the same size, between two compressed answers.
    text = Text(100 * 1024, 2);
    t.WriteSite("HTDOCS/s.css", text);
    EXPECT_EQ(Decode("gzip", BodyOf(Get(t, "/s.css", Accept("gzip")))), text);

    const std::string part = Get(t, "/s.css", Accept("gzip") + "Range: bytes=0-9\r\n");
    EXPECT_EQ(BodyOf(part), text.substr(0, 10)) << "a range is one of the document's own bytes";
    EXPECT_EQ(HeaderOf(part, "Content-Encoding"), "");
    EXPECT_EQ(HeaderOf(part, "Vary"), "Accept-Encoding");
    t.WriteSite("HTDOCS/small.css", Text(1000, 1));
    t.WriteSite("HTDOCS/p.png", Text(5000, 1));
    for (const char* path : {"/small.css", "/p.png"})
        EXPECT_EQ(HeaderOf(Get(t, path, Accept("gzip")), "Content-Encoding"), "") << path;
    EXPECT_EQ(HeaderOf(Get(t, "/s.css", Accept("identity;q=0, gzip;q=0.1")), "Content-Encoding"), "gzip");
}

TEST(Compression, PrecompressedCopiesBesideTheDocument) {
    TestServer t;
    const std::string text = Text(3000, 1);
    t.WriteSite("HTDOCS/a.js", text);
    t.WriteSite("HTDOCS/a.js.br", "BR-COPY");
    t.WriteSite("HTDOCS/a.js.gz", "GZ-COPY");
    const std::string br = Get(t, "/a.js", Accept("gzip, br"));
    EXPECT_EQ(BodyOf(br), "BR-COPY");
    EXPECT_EQ(HeaderOf(br, "Content-Encoding"), "br");
    EXPECT_EQ(HeaderOf(br, "Content-Type"), "text/javascript");
    EXPECT_EQ(HeaderOf(br, "Content-Length"), "7");
    EXPECT_EQ(HeaderOf(br, "Vary"), "Accept-Encoding");
    EXPECT_EQ(HeaderOf(br, "ETag"), HeaderOf(Get(t, "/a.js.br"), "ETag")) << "the copy's own tag";
    EXPECT_EQ(BodyOf(Get(t, "/a.js", Accept("gzip"))), "GZ-COPY");
    EXPECT_EQ(BodyOf(Get(t, "/a.js", Accept("br") + "Range: bytes=3-\r\n")), "COPY") << "a range of the copy";
    const std::string zstd = Get(t, "/a.js", Accept("zstd"));
    EXPECT_EQ(BodyOf(zstd), text) << "no copy in zstd, and no compressing beside copies";
    EXPECT_EQ(HeaderOf(zstd, "Vary"), "Accept-Encoding");
    EXPECT_EQ(HeaderOf(Get(t, "/a.js"), "Vary"), "Accept-Encoding");

    // A copy older than the document is not it.
    const auto now = std::filesystem::last_write_time(t.Site("HTDOCS/a.js"));
    std::filesystem::last_write_time(t.Site("HTDOCS/a.js.gz"), now - std::chrono::hours(1));
    EXPECT_EQ(BodyOf(Get(t, "/a.js", Accept("gzip"))), text);

    // A copy that appears beside a document already served is seen.
    t.WriteSite("HTDOCS/b.css", text);
    EXPECT_EQ(Decode("gzip", BodyOf(Get(t, "/b.css", Accept("gzip")))), text);
    t.WriteSite("HTDOCS/b.css.gz", "NEW-COPY");
    EXPECT_EQ(BodyOf(Get(t, "/b.css", Accept("gzip"))), "NEW-COPY");
    std::filesystem::remove(t.Site("HTDOCS/b.css.gz"));
    EXPECT_EQ(Decode("gzip", BodyOf(Get(t, "/b.css", Accept("gzip")))), text);
}

TEST(Compression, TheCacheKeepsItsBoundDroppingTheLeastRecentlyUsed) {
    TestHome home;
    constexpr uint64_t kBound = 3000;
    FileCache cache(kBound);
    std::string paths[3];
    FileCache::Document documents[3];
    uint64_t sizes[3];
    for (int i = 0; i < 3; ++i) {
        paths[i] = home.DriveC("d" + std::to_string(i) + ".txt");
        // Digits compress about in half: each copy takes some 1 KB.
        std::string digits;
        for (int n = 0; digits.size() < 2500; ++n) digits += std::to_string(n * 7919 % 10007 + i);
        TestHome::WriteFile(paths[i], digits);
        ASSERT_TRUE(cache.Open(paths[i], &documents[i]));
        const auto coded = cache.Coded(paths[i], Coding::Gzip, documents[i].file.get());
        ASSERT_TRUE(coded);
        sizes[i] = coded->size();
        EXPECT_EQ(coded->capacity(), coded->size()) << "the bound counts all a copy holds";
        EXPECT_EQ(cache.Coded(paths[i], Coding::Gzip, documents[i].file.get()), coded) << "made once";
        EXPECT_LE(cache.CodedBytes(), kBound);
    }
    EXPECT_EQ(cache.CodedBytes(), sizes[1] + sizes[2]) << "the oldest copy went";
    FileCache::Document other;
    ASSERT_TRUE(cache.Open(paths[1], &other));
    EXPECT_FALSE(cache.Coded(paths[2], Coding::Gzip, other.file.get())) << "another file's bytes";
}

TEST(Compression, TheCacheKeepsATagAndTheCopiesPerFileAndForgetsThemWithIt) {
    TestHome home;
    FileCache cache;
    const std::string path = home.DriveC("t.txt");
    TestHome::WriteFile(path, "first");
    FileCache::Document first;
    ASSERT_TRUE(cache.Open(path, &first));
    platform::FileInfo facts;
    ASSERT_TRUE(platform::GetFileInfo(path, &facts));
    ASSERT_TRUE(first.tag);
    EXPECT_EQ(*first.tag, ContentCoding::EntityTag(facts)) << "the tag a request without a cache gets";
    EXPECT_TRUE(first.siblingsKnown);
    EXPECT_EQ(first.siblings, 0u);

    // Another file of the same size and time renamed over it, and a copy
    // beside it: the next batch sees a new file with a new tag and the copy.
    const std::string other = home.DriveC("u.txt");
    TestHome::WriteFile(other, "other");
    std::filesystem::last_write_time(other, std::filesystem::last_write_time(path));
    std::filesystem::rename(other, path);
    TestHome::WriteFile(path + ".gz", "GZ");
    cache.BeginBatch();
    FileCache::Document second;
    ASSERT_TRUE(cache.Open(path, &second));
    ASSERT_TRUE(second.tag);
    EXPECT_NE(*second.tag, *first.tag);
    EXPECT_EQ(second.siblings, ContentCoding::Bit(Coding::Gzip));
    EXPECT_EQ(*first.tag, ContentCoding::EntityTag(facts)) << "an answer still sending keeps its own";
}

TEST(Compression, ListingsAndParsedPagesPerAnswerScriptOutputNever) {
    TestServer t;
    for (int i = 0; i < 40; ++i) t.WriteSite("HTDOCS/many/file-" + std::to_string(i) + ".txt", "x");
    t.WriteSite("HTDOCS/p.shtml", Text(3000, 1) + "<!--#echo var=\"DOCUMENT_NAME\"-->");
    t.WriteSite("CGI-BIN/s.cgi", "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\n'\nseq 1 2000\n");
    std::filesystem::permissions(t.Site("CGI-BIN/s.cgi"), std::filesystem::perms(0755));
    for (const char* path : {"/many/", "/p.shtml"}) {
        const std::string plain = Get(t, path);
        const std::string coded = Get(t, path, Accept("gzip"));
        EXPECT_EQ(HeaderOf(coded, "Content-Encoding"), "gzip") << path;
        EXPECT_EQ(HeaderOf(coded, "Vary"), "Accept-Encoding") << path;
        EXPECT_EQ(HeaderOf(coded, "Content-Length"), std::to_string(BodyOf(coded).size())) << path;
        EXPECT_EQ(Decode("gzip", BodyOf(coded)), BodyOf(plain)) << path;
        EXPECT_EQ(HeaderOf(plain, "Vary"), "") << path;
    }
    const std::string script = Get(t, "/cgi-bin/s.cgi", Accept("gzip"));
    EXPECT_EQ(HeaderOf(script, "Content-Encoding"), "");
    EXPECT_EQ(BodyOf(script), BodyOf(Get(t, "/cgi-bin/s.cgi")));
}
