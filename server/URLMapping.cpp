#include "server/URLMapping.h"

#include <algorithm>

#include "config/HTTPConfiguration.h"
#include "http/HTTPRequest.h"

URLFault NormaliseURL(std::string* url) {
    NormalisePath(url);
    if (url->find("...") != std::string::npos) return URLFault::Traversal;
    if (url->empty()) return URLFault::Empty;
    if ((*url)[0] != '/') return URLFault::NotAbsolute;
    if (url->find('\0') != std::string::npos) return URLFault::BadByte;
    return URLFault::None;
}

namespace {

// The lists in the order they are searched, and what a match in each names.
constexpr struct {
    std::vector<Mapping> HTTPConfiguration::*list;
    int kind;
    bool splitsPathInfo;
} kLists[] = {
    {&HTTPConfiguration::Redir, ResourceRedirect, false},
    {&HTTPConfiguration::Alias, ResourceDocument, false},
    {&HTTPConfiguration::CgiBin, ResourceCGIBin, true},
    {&HTTPConfiguration::CgiWin, ResourceCGIWin, true},
};

}  // namespace

URLMapping::URLMapping(const HTTPConfiguration& config, std::string_view url, std::string storage)
    : Kind(ResourceDocument), PhysicalPath(std::move(storage)) {
    PhysicalPath.clear();
    for (const auto& list : kLists) {
        if (const Mapping* entry = FindFirst(config.*list.list, HasVirtual, url)) {
            Kind = list.kind;
            SplitsPathInfo = list.splitsPathInfo;
            std::string& target = Kind == ResourceRedirect ? RedirectURL : PhysicalPath;
            target = entry->second;
            target += url.substr(std::min(entry->first.size(), url.size()));
            return;
        }
    }
    PhysicalPath.reserve(config.DocRoot.size() + url.size());
    PhysicalPath += config.DocRoot;
    PhysicalPath += url;
}
