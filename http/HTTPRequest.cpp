#include "http/HTTPRequest.h"


#include <algorithm>
#include <cstdint>
#include <cstring>

#include "http/ByteSource.h"
#include "http/Characters.h"
#include "http/ChunkedSource.h"
#include "http/Escapes.h"
#include "http/LetterCase.h"
#include "http/PathText.h"

namespace {

struct MethodName {
    const char* word;
    int code;
};
constexpr MethodName kMethods[] = {
    {"OPTIONS", MethodOPTIONS}, {"GET", MethodGET}, {"HEAD", MethodHEAD},   {"POST", MethodPOST},
    {"PUT", MethodPUT},         {"DELETE", MethodDELETE}, {"TRACE", MethodTRACE},
};

// Empty lines a client may send between requests (a CR LF after a body, as
// some clients add) are skipped, up to this many; one more is refused.
constexpr int kBlankLines = 8;

}  // namespace

int LookupMethod(std::string_view word) {
    for (const MethodName& m : kMethods)
        if (word == m.word) return m.code;
    return MethodUnknown;
}

std::string_view MethodWord(int code) {
    for (const MethodName& m : kMethods)
        if (code == m.code) return m.word;
    return {};
}

void getword(std::string* word, std::string* line, char stop) {
    const size_t at = stop ? line->find(stop) : std::string::npos;
    if (at == std::string::npos) {
        *word = std::move(*line);
        line->clear();
        return;
    }
    word->assign(*line, 0, at);
    line->erase(0, at + 1);
}

void getparents(std::string* path) {
    std::string& name = *path;
    // Reads past the end see a terminator, as the scans below expect.
    const auto at = [&name](long i) { return i >= 0 && static_cast<size_t>(i) < name.size() ? name[i] : '\0'; };

    // 1. "./" at the start of a segment.
    long w = 0;
    for (long l = 0; static_cast<size_t>(l) < name.size();) {
        if (at(l) == '.' && at(l + 1) == '/' && (l == 0 || at(l - 1) == '/')) l += 2;
        else name[w++] = name[l++];
    }
    name.resize(static_cast<size_t>(w));

    // 2. A final "." segment.
    if (w == 1 && name[0] == '.') name.clear();
    else if (w > 1 && name[w - 1] == '.' && name[w - 2] == '/') name.resize(static_cast<size_t>(w - 1));

    // Where the segment before position l - back begins: just after the
    // slash before it, or the start of the string.
    const auto segmentStart = [&name](long l, long back) {
        l -= back;
        if (l < 0) return 0L;
        while (l >= 0 && name[l] != '/') --l;
        return l + 1;
    };

    // 3. Each "../" with the segment before it.
    long l = 0;
    while (static_cast<size_t>(l) < name.size()) {
        if (at(l) == '.' && at(l + 1) == '.' && at(l + 2) == '/' && (l == 0 || at(l - 1) == '/')) {
            const long m = l + 3;
            l = segmentStart(l, 2);
            name.erase(static_cast<size_t>(l), static_cast<size_t>(m - l));
        } else {
            ++l;
        }
    }

    // 4. A final ".." with the segment before it.
    l = static_cast<long>(name.size());
    if (l == 2 && name[0] == '.' && name[1] == '.') {
        name.clear();
    } else if (l > 2 && name[l - 1] == '.' && name[l - 2] == '.' && name[l - 3] == '/') {
        name.resize(static_cast<size_t>(segmentStart(l, 4)));
    }
}

HTTPRequest::HTTPRequest() { HTTPRequest::Reset(); }

void HTTPRequest::Reset() {
    HTTPMessage::Reset();
    // Every field, so that a request object can serve one request after
    // another (strings keep their memory for the next one).
    RequestLine.clear();
    Query.clear();
    URL.clear();
    Method = MethodUnknown;
    LocalAddr.clear();
    RemoteHost.clear();
    RemoteAddr.clear();
    AuthType.clear();
    RealmName.clear();
    User.clear();
    Password.clear();
    AllowIndex = 1;
    ResourceKind = ResourceUnset;
    PhysicalPath.clear();
    RedirectURL.clear();
    ScriptName.clear();
    PathInfo.clear();
    ResourceInfo = platform::FileInfo();
    ResourceInfoKnown = false;
    URLTooLong = false;
    BadFraming = false;
    Fault = HeadFault::None;
    BodyLength = 0;
    TurnedAway = false;
    CodingStatus = 0;
    Secure = false;
    source_ = nullptr;
    bodyDeclared_ = bodyRead_ = lineCut_ = chunked_ = false;
    bodyFault_ = BodyFaultKind::None;
}

bool ParseContentLength(std::string_view text, uint64_t* length) {
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *length = value;
    return true;
}

namespace {

// A request line whose words are not parted by single blanks, or that holds
// a NUL or a CR, is read otherwise by other readers (one takes a tab for a
// blank, another a CR for a line end).
HeadFault RequestLineFault(std::string_view line) {
    // A few vectorised searches: this runs for every request.
    const auto holds = [line](char c) { return std::memchr(line.data(), c, line.size()) != nullptr; };
    if (holds('\0') || holds('\r')) return HeadFault::ControlByte;
    if (holds('\t') || line.find("  ") != std::string_view::npos) return HeadFault::RequestLineForm;
    return HeadFault::None;
}

// True for the version word of HTTP/1.1 or a later 1.x.
bool NamesOneOneOrLater(std::string_view version) {
    constexpr std::string_view kOne = "HTTP/1.";
    if (!version.starts_with(kOne) || version.size() == kOne.size()) return false;
    const std::string_view minor = version.substr(kOne.size());
    return minor.find_first_not_of("0123456789") == std::string_view::npos &&
           minor.find_first_not_of('0') != std::string_view::npos;
}

// Takes the scheme and host off an absolute URL path ("http://host/path"
// becomes "/path", with host in *host); false, with nothing changed, for a
// path of any other form.
bool TakeAbsoluteForm(std::string_view* path, std::string_view* host) {
    size_t scheme = 0;
    if (path->size() > 7 && EqualNoCase(path->substr(0, 7), "http://")) scheme = 7;
    else if (path->size() > 8 && EqualNoCase(path->substr(0, 8), "https://")) scheme = 8;
    else return false;
    const std::string_view rest = path->substr(scheme);
    const size_t slash = std::min(rest.find('/'), rest.size());
    *host = rest.substr(0, slash);
    *path = slash < rest.size() ? rest.substr(slash) : std::string_view("/");
    return true;
}

// What an HTTP/1.1 request's Transfer-Encoding list asks: true for the
// chunked coding alone; else *status is 501 for valid codings this server
// does not decode (any other, or chunked after another), 400 for a list
// that cannot frame a body (a word that is no token, chunked twice or not
// last).
bool ReadCodings(std::string_view list, int* status) {
    int chunked = 0;
    bool chunkedLast = false;
    size_t count = 0;
    for (size_t start = 0; start <= list.size(); ++count) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view coding = TrimBlanks(list.substr(start, comma - start));
        if (!IsToken(coding)) {
            *status = 400;
            return false;
        }
        chunkedLast = EqualNoCase(coding, "chunked");
        chunked += chunkedLast ? 1 : 0;
        start = comma + 1;
    }
    if (chunked == 1 && chunkedLast && count == 1) return true;
    *status = chunked == 0 || (chunked == 1 && chunkedLast) ? 501 : 400;
    return false;
}

}  // namespace

HeadParse HTTPRequest::ParseHead(std::string_view bytes, bool ended, bool http11) {
    static_assert(kHeadRoom >= kLargestHead + kLongestLine + 2, "room for the line that passes the bound");
    Valid = 0;
    HeadParse result;
    size_t at = 0;
    std::string_view line;
    int blanks = 0;
    for (;;) {
        if (!NextLine(bytes, &at, &line)) {
            result.outcome = ended ? HeadParse::Unusable : HeadParse::NeedMore;
            result.used = at;
            return result;
        }
        if (!line.empty() || blanks == kBlankLines) break;
        ++blanks;
    }
    const size_t n = line.size();
    size_t headBytes = 2 * static_cast<size_t>(blanks) + n + 2;
    RequestLine.assign(line);
    // A line too long is cut short: its rest, headers and body stay unread,
    // and the request is answered 400.
    lineCut_ = n > static_cast<size_t>(kLongestLine);
    Fault = n == 0 ? HeadFault::BlankLines : lineCut_ ? HeadFault::None : RequestLineFault(RequestLine);

    // The words of the line as getword takes them, without copies.
    const auto take = [](std::string_view* words, char stop) {
        const size_t end = words->find(stop);
        const std::string_view word = words->substr(0, end);
        words->remove_prefix(end == std::string_view::npos ? words->size() : end + 1);
        return word;
    };
    std::string_view words = RequestLine;
    const std::string_view method = take(&words, ' ');
    Method = method.size() < kWordBuffer ? LookupMethod(method) : MethodUnknown;

    std::string_view urlWord = take(&words, ' ');
    URLTooLong = lineCut_ || urlWord.size() >= kWordBuffer;
    std::string_view path = take(&urlWord, '?');
    const std::string_view version = words;
    const bool speaks11 = http11 && !lineCut_ && Fault == HeadFault::None && NamesOneOneOrLater(version);
    std::string_view absoluteHost;
    const bool absolute = speaks11 && TakeAbsoluteForm(&path, &absoluteHost);
    if (!URLTooLong) {
        URL.assign(path);
        unescape_url(URL);
        if (URL.empty() && Fault == HeadFault::None) {
            result.outcome = HeadParse::Unusable;
            return result;
        }
        if (!urlWord.empty()) Query.assign(urlWord);
    }

    // A line that cannot be read as a request is answered as a full one, so
    // that the refusal has a status line; its headers stay unread.
    if (!version.empty() || lineCut_ || Fault != HeadFault::None) {
        Protocol = speaks11 ? HTTP11 : HTTP10;
        Major = 1;
        Minor = speaks11 ? 1 : 0;
        bool whole = true;
        if (!lineCut_ && Fault == HeadFault::None) {
            Fault = ParseHeaders(bytes, &at, &headBytes, &whole);
            if (!whole && Fault == HeadFault::None && !ended) {
                result.used = at;
                return result;  // NeedMore
            }
        }
        const std::string& length = Header[Hdr::ContentLength];
        const std::string& codings = Header[Hdr::TransferEncoding];
        bodyDeclared_ = !length.empty();
        // Only HTTP/1.1 decodes a body in a transfer coding, and only one
        // with no length besides, which a proxy might take instead.
        chunked_ = speaks11 && !bodyDeclared_ && !codings.empty() && ReadCodings(codings, &CodingStatus);
        // A head not read whole leaves the end of the request unknown too.
        // A line no reader can agree on may be a coding to another one.
        BadFraming = Fault != HeadFault::None || (!codings.empty() && !chunked_) ||
                     (bodyDeclared_ && !ParseContentLength(length, &BodyLength)) ||
                     (speaks11 && MalformedLines > 0);
        if (absolute) {
            // The host of an absolute URL stands for the Host header.
            Header[Hdr::Host].assign(absoluteHost);
            HostLines = std::max(HostLines, 1);
        }
        // A head cut short by the client's end stands, but a body it
        // announced cannot have come.
        if (!whole && Fault == HeadFault::None && !BadFraming && (BodyLength > 0 || chunked_)) {
            result.outcome = HeadParse::Unusable;
            return result;
        }
    } else {
        Protocol = HTTP09;
        Major = 0;
        Minor = 9;
    }
    Valid = 1;
    result.used = at;
    if (Fault != HeadFault::None || BadFraming || URLTooLong) {
        result.outcome = HeadParse::Refused;
        result.status = 400;
    } else {
        result.outcome = HeadParse::Parsed;
    }
    return result;
}

bool HTTPRequest::WorthParsing(std::string_view bytes, size_t linesRead) {
    if (linesRead > bytes.size()) return true;
    const std::string_view rest = bytes.substr(linesRead);
    return std::memchr(rest.data(), '\n', rest.size()) != nullptr ||
           rest.size() >= static_cast<size_t>(kLongestLine) + 2;
}

int HTTPRequest::ReadBody(bool nameless, uint64_t limit) {
    if (!BodyDeclared() || bodyRead_) return 1;
    if (BadFraming || !source_) return 0;
    ByteSource* source = source_;
    source_ = nullptr;  // one attempt: after a failure the connection is out of step
    if (ExpectsContinue() && (chunked_ || BodyLength > 0) && !source->Continue()) return 0;
    if (!chunked_) {
        const int result = Entity.Read(source, TimeOut, BodyLength, nameless);
        bodyRead_ = result == 1;
        return result;
    }
    ChunkedSource chunks(*source, limit);
    const int result = Entity.Read(&chunks, TimeOut, HTTPEntity::kToEnd, nameless);
    bodyRead_ = result == 1;
    if (bodyRead_) BodyLength = chunks.Decoded();
    if (chunks.Failure() == ChunkedSource::Fault::Broken) bodyFault_ = BodyFaultKind::Broken;
    if (chunks.Failure() == ChunkedSource::Fault::TooLarge) bodyFault_ = BodyFaultKind::TooLarge;
    return result;
}

bool HTTPRequest::InputLeft() const {
    return lineCut_ || BadFraming || (bodyDeclared_ && BodyLength > 0 && !bodyRead_) || (chunked_ && !bodyRead_);
}

bool HTTPRequest::ExpectsContinue() const {
    return Protocol == HTTP11 && EqualNoCase(TrimBlanks(Expect), "100-continue");
}

bool HTTPRequest::NamesHTTP11() const {
    if (Protocol == HTTP11) return true;
    const size_t blank = RequestLine.rfind(' ');
    return blank != std::string::npos && EqualNoCase(std::string_view(RequestLine).substr(blank + 1), "HTTP/1.1");
}

void NormalisePath(std::string* path) {
    // Most paths need nothing: no backslash, and no segment that begins
    // with a dot (the only segments getparents changes).
    const std::string& text = *path;
    bool plain = text.size() <= 8191;
    for (size_t i = 0; plain && i < text.size(); ++i)
        plain = text[i] != '\\' && !(text[i] == '.' && (i == 0 || text[i - 1] == '/'));
    if (plain) return;
    *path = SlashesForward(std::move(*path));
    if (path->size() > 8191) path->resize(8191);
    getparents(path);
}

