#pragma once
// How a URL path names a resource: the one normalisation and the one mapping
// that every path built from a URL goes through, whether it came in a request
// line or from a gateway (an include directive, PATH_TRANSLATED). A path that
// passes NormaliseURL begins with a slash and holds no "." or ".." segment,
// no backslash and no NUL, so MapURL can only name a place inside the
// document root or inside a target of the mapping lists.

#include <optional>
#include <string>
#include <string_view>

class HTTPConfiguration;

// Why a URL path is refused, in the order the checks are made.
enum class URLFault {
    None,
    Traversal,    // "..." is left after normalising
    Empty,        // nothing is left
    NotAbsolute,  // it does not begin with a slash (an absolute URL, or a climb past the top)
    BadByte,      // it holds a NUL byte, which would cut the path short at the file system
};

// Normalises a decoded URL path in place as the request pipeline does
// (backslashes become slashes, at most 8191 characters, then getparents) and
// tells what, if anything, makes it unusable. A refused path must not be
// mapped.
URLFault NormaliseURL(std::string* url);

// A normalised URL path, as found in the mapping lists.
class URLMapping {
public:
    // ResourceDocument, ResourceCGIBin, ResourceCGIWin or ResourceRedirect.
    int Kind;
    // The target with the rest of the URL after it, slashes as they came:
    // the file path of a document or script in PhysicalPath, the URL of a
    // redirection (ResourceRedirect) in RedirectURL; the other stays empty.
    std::string PhysicalPath;
    std::string RedirectURL;
    // A script's URL may go on past the script: the rest is its PATH_INFO.
    bool SplitsPathInfo = false;

    // Searches Redir, Alias, CgiBin and CgiWin in this order (HasVirtual);
    // the first match replaces the matched prefix with its target. Without a
    // match, DocRoot followed by url names a document. The path is built in
    // storage's memory (its text is dropped), so that a caller that keeps a
    // string from one request to the next allocates nothing.
    URLMapping(const HTTPConfiguration& config, std::string_view url, std::string storage = {});
};

// A request's URL as the pipeline resolves it, once per request: normalised
// in place (fault), then mapped when it passed. It goes with the request
// when the request waits to be served elsewhere.
struct ResolvedURL {
    bool done = false;
    URLFault fault = URLFault::None;
    std::optional<URLMapping> mapping;  // set when fault is None
};
