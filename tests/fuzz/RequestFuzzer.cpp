// Feeds arbitrary bytes to the request head parser in pieces cut where
// the first byte says, as a connection delivers them, parsing again only
// when WorthParsing says the head may have changed; the last piece may end
// the input, as a client's close does. Every request found is read on
// (pipelining, bodies). Checked: a judgement once made stands (more bytes
// never change it), a skipped parse loses nothing, only whole lines are
// used, a refusal answers with a status line and ends the connection's use,
// and a body read whole has its declared length (a refused one is never read).
// With the mode's 0x40 bit the head is read as a server that answers
// HTTP/1.1 reads it: a chunked body is decoded through the connection's
// path (framing bytes one at a time) and checked against the decoder fed
// everything at once; the go-ahead is asked only of a request that
// expects it, and a body refused for its coding or size leaves input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>

#include "http/ByteSource.h"
#include "http/ChunkedDecoder.h"
#include "http/HTTPRequest.h"

namespace {

class Bytes final : public ByteSource {
public:
    explicit Bytes(std::string_view rest) : rest_(rest) {}
    long ReceiveSome(char* buffer, size_t len, unsigned long) override {
        const size_t take = std::min(len, rest_.size());
        rest_.copy(buffer, take);
        rest_.remove_prefix(take);
        return static_cast<long>(take);
    }
    bool Continue() override {
        ++continues;
        return true;
    }
    size_t Left() const { return rest_.size(); }
    int continues = 0;

private:
    std::string_view rest_;
};

bool SameHead(const HTTPRequest& a, const HTTPRequest& b) {
    const auto fields = [](const HTTPRequest& r) {
        return std::tie(r.RequestLine, r.URL, r.Query, r.Method, r.Protocol, r.Fault, r.BadFraming, r.BodyLength,
                        r.HostLines, r.Expect, r.CodingStatus, r.MalformedLines);
    };
    return fields(a) == fields(b) && a.Chunked() == b.Chunked() && std::equal(a.Header, a.Header + Hdr::Count, b.Header);
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// Parses the head at the start of input as it arrives in pieces, then
// checks the judgement against a parse of everything at once.
HeadParse ParseInPieces(std::string_view input, uint8_t mode, HTTPRequest* judged) {
    const bool http11 = (mode & 0x40) != 0;
    size_t arrived = 0, linesRead = 0, chunk = 1 + mode % 13;
    HeadParse parse;
    for (;;) {
        arrived = std::min(input.size(), arrived + chunk);
        chunk = 1 + (chunk * 7 + 3) % 29;
        const std::string_view part = input.substr(0, arrived);
        const bool ended = arrived == input.size() && (mode & 0x80);
        if (!ended && !HTTPRequest::WorthParsing(part, linesRead)) {
            HTTPRequest skipped;
            const HeadParse check = skipped.ParseHead(part, false, http11);
            Check(check.outcome == HeadParse::NeedMore && check.used == linesRead);
            if (arrived == input.size()) return check;
            continue;
        }
        judged->Reset();
        parse = judged->ParseHead(part, ended, http11);
        Check(parse.used <= arrived);
        if (parse.outcome != HeadParse::NeedMore) break;
        Check(!ended && parse.used >= linesRead);
        linesRead = parse.used;
        if (arrived == input.size()) return parse;
    }
    HTTPRequest whole;
    const HeadParse all = whole.ParseHead(input, (mode & 0x80) != 0, http11);
    Check(all.outcome == parse.outcome && all.used == parse.used);
    if (parse.outcome != HeadParse::Unusable) Check(SameHead(whole, *judged));
    return parse;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Bodies become temporary files; keep them out of the way.
    static const int tmp = ::setenv("TMPDIR", "/tmp", 0);
    (void)tmp;
    const uint8_t mode = data[0];
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    for (int pass = 0; pass < 8 && !input.empty(); ++pass) {
        HTTPRequest request;
        request.TimeOut = 200;
        const HeadParse parse = ParseInPieces(input, mode, &request);
        if (parse.outcome == HeadParse::NeedMore || parse.outcome == HeadParse::Unusable) break;
        Check(request.Valid == 1);
        if (parse.outcome == HeadParse::Refused) {
            Check(parse.status == 400 && request.Protocol != HTTP09);
            Check(request.Fault == HeadFault::None || (request.BadFraming && request.InputLeft()));
        }
        NormalisePath(&request.URL);
        input.remove_prefix(parse.used);
        // A body is read as a request that uses it would; a length that is
        // not sound is never read.
        Bytes body(input);
        request.SetBodySource(&body);
        const uint64_t limit = (mode & 0x20) ? 64 : 0;
        if (request.BadFraming && request.BodyDeclared()) Check(request.ReadBody(false, limit) == 0);
        if (!request.BadFraming && request.ReadBody(false, limit) == 1 && request.BodyDeclared())
            Check(request.Entity.GetSize() == request.BodyLength);
        Check(body.continues <= (request.ExpectsContinue() ? 1 : 0));
        Check(request.Protocol == HTTP11 || (!request.Chunked() && !request.ExpectsContinue()));
        if (request.BodyFault() != HTTPRequest::BodyFaultKind::None) Check(request.InputLeft());
        if (request.Chunked()) {
            // The same bytes decoded at once end the body at the same byte,
            // with the same data, or break it where the reader did.
            ChunkedDecoder decoder;
            size_t used = 0;
            std::string data;
            const ChunkedDecoder::Status status = decoder.Feed(input, &used, &data);
            const size_t taken = input.size() - body.Left();
            if (request.BodyFault() == HTTPRequest::BodyFaultKind::Broken) {
                Check(status == ChunkedDecoder::Status::Bad && used == taken);
            } else if (!request.InputLeft()) {
                Check(status == ChunkedDecoder::Status::Done && used == taken && data.size() == request.BodyLength);
                Check(limit == 0 || data.size() <= limit);
            }
        }
        input.remove_prefix(input.size() - body.Left());
        if (request.Protocol == HTTP09 || request.InputLeft()) break;
    }
    return 0;
}
