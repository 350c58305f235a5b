#include "http/HTTPRequest.h"

#include <cstdint>

#include "http/Utilities.h"
#include "net/Socket.h"

namespace {

struct MethodName {
    const char* word;
    int code;
};
constexpr MethodName kMethods[] = {
    {"OPTIONS", MethodOPTIONS}, {"GET", MethodGET}, {"HEAD", MethodHEAD},   {"POST", MethodPOST},
    {"PUT", MethodPUT},         {"DELETE", MethodDELETE}, {"TRACE", MethodTRACE},
};

// The leading decimal number of a header value (0 when it has none),
// held to 32 bits.
unsigned long LeadingLength(const std::string& text) {
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xffffffffULL) return 0xffffffffUL;
    }
    return static_cast<unsigned long>(value);
}

}  // namespace

int LookupMethod(std::string_view word) {
    for (const MethodName& m : kMethods)
        if (word == m.word) return m.code;
    return MethodUnknown;
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
    URL.clear();
    Query.clear();
    RemoteAddr.clear();
    RemoteHost.clear();
    RequestLine.clear();
    PathInfo.clear();
    Method = MethodUnknown;
    ResourceKind = ResourceUnset;
    AllowIndex = 1;
    URLTooLong = false;
}

int HTTPRequest::Read(Socket* s, unsigned long timeout, int resolveName) {
    Valid = 0;
    if (!s || !s->IsOpen()) return 0;
    char buffer[8192];
    const int n = s->GetLine(buffer, sizeof buffer, timeout);
    if (n < 0) return 0;
    RequestLine.assign(buffer, static_cast<size_t>(n));

    std::string line = RequestLine;
    std::string method;
    getword(&method, &line, ' ');
    Method = method.size() < kWordBuffer ? LookupMethod(method) : MethodUnknown;

    std::string urlWord;
    getword(&urlWord, &line, ' ');
    URLTooLong = urlWord.size() >= kWordBuffer;
    std::string path;
    getword(&path, &urlWord, '?');
    unescape_url(path);
    if (path.empty() && !URLTooLong) return 0;
    if (!URLTooLong) {
        URL = std::move(path);
        if (!urlWord.empty()) Query = std::move(urlWord);
    }

    std::string version;
    getword(&version, &line, 0);
    if (!version.empty()) {
        Protocol = HTTP10;
        Major = 1;
        ReadHeaders(s, timeout);
        if (!Header[Hdr::ContentLength].empty())
            Entity.Read(s, timeout, LeadingLength(Header[Hdr::ContentLength]));
    } else {
        Protocol = HTTP09;
        Major = 0;
        Minor = 9;
    }

    SocketAddress local, peer;
    if (s->GetName(&local) != 0) return 0;
    LocalAddr = platform::net::Dotted(local.address);
    if (s->GetPeer(&peer) != 0) return 0;
    RemoteAddr = platform::net::Dotted(peer.address);
    if (resolveName) {
        std::string name;
        if (platform::net::ReverseLookup(peer.address, &name)) RemoteHost = std::move(name);
    }
    Valid = 1;
    return 1;
}

void NormalisePath(std::string* path) {
    *path = SlashesForward(std::move(*path));
    if (path->size() > 8191) path->resize(8191);
    getparents(path);
}

void HTTPRequest::GetParents() { NormalisePath(&URL); }
