#pragma once
// The table of the 49 header names the server knows. A header's index in
// this table is how every part of the server addresses it; a header outside
// the table is dropped on input and cannot be sent. Headers are always
// written in table order. The enumeration Hdr::* and the names come from the
// one list below.

#include <string_view>

#define VAREVAVO_HEADER_TABLE(X)                                                                            \
    X(Null, "Null") X(Accept, "Accept") X(AcceptCharset, "Accept-Charset")                                  \
    X(AcceptEncoding, "Accept-Encoding") X(AcceptLanguage, "Accept-Language")                              \
    X(AcceptRanges, "Accept-Ranges") X(Age, "Age") X(Allow, "Allow") X(Authorization, "Authorization")      \
    X(CacheControl, "Cache-Control") X(Connection, "Connection") X(ContentBase, "Content-Base")             \
    X(ContentEncoding, "Content-Encoding") X(ContentLanguage, "Content-Language")                           \
    X(ContentLength, "Content-Length") X(ContentLocation, "Content-Location") X(ContentMD5, "Content-MD5")  \
    X(ContentRange, "Content-Range") X(ContentType, "Content-Type") X(Date, "Date") X(ETag, "ETag")         \
    X(Expires, "Expires") X(From, "From") X(Host, "Host") X(IfModifiedSince, "If-Modified-Since")           \
    X(IfMatch, "If-Match") X(IfNoneMatch, "If-None-Match") X(IfRange, "If-Range")                          \
    X(IfUnmodifiedSince, "If-Unmodified-Since") X(LastModified, "Last-Modified") X(Location, "Location")    \
    X(MaxForwards, "Max-Forwards") X(Pragma, "Pragma") X(ProxyAuthenticate, "Proxy-Authenticate")          \
    X(ProxyAuthorization, "Proxy-Authorization") X(Public, "Public") X(Range, "Range") X(Referer, "Referer") \
    X(RetryAfter, "Retry-After") X(Server, "Server") X(TransferEncoding, "Transfer-Encoding")               \
    X(Upgrade, "Upgrade") X(UserAgent, "User-Agent") X(Vary, "Vary") X(Via, "Via") X(Warning, "Warning")    \
    X(WWWAuthenticate, "WWW-Authenticate") X(Cookie, "Cookie") X(SetCookie, "Set-Cookie")

namespace Hdr {
enum : int {
#define VAREVAVO_HEADER_ID(id, text) id,
    VAREVAVO_HEADER_TABLE(VAREVAVO_HEADER_ID)
#undef VAREVAVO_HEADER_ID
        Count
};
}  // namespace Hdr

extern const char* const HeaderString[Hdr::Count];

// The index of a header name compared without letter case, the first match
// in table order; -1 for a name outside the table.
int HeaderIndex(std::string_view name);
