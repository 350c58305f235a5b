// Feeds arbitrary virtual-tag values to the path mapping of server-side
// includes, as a page would give them: the value becomes a URL path
// (SSIVirtualURL) and then a file path (TranslatePath) or a refusal. A path
// that comes out must lie inside the document root or a target of the
// mapping lists and hold no "." or ".." segment, whatever the input spells.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/SSIEngine.h"
#include "server/HTTPServer.h"
#include "server/RequestContext.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

HTTPConfiguration FuzzConfiguration() {
    HTTPConfiguration config;
    config.DefaultConfiguration();
    config.Alias.emplace_back("/deep/er", "D:\\WWW\\DEEP");
    config.Alias.emplace_back("/a.b", "C:\\DOTS");
    config.Redir.emplace_back("/old", "http://elsewhere/new");
    config.CgiBin.emplace_back("/scripts/", "E:\\SCRIPTS");
    return config;
}

// The root that path starts with, followed by nothing or a backslash.
bool UnderRoot(std::string_view path, std::string_view root, std::string_view* rest) {
    if (!path.starts_with(root)) return false;
    *rest = path.substr(root.size());
    return rest->empty() || rest->front() == '\\';
}

void CheckInsideRoots(const HTTPConfiguration& config, std::string_view path) {
    std::string_view rest;
    bool inside = UnderRoot(path, config.DocRoot, &rest);
    for (const auto* list : {&config.Alias, &config.CgiBin, &config.CgiWin})
        for (const Mapping& entry : *list)
            if (!inside) inside = UnderRoot(path, entry.second, &rest);
    Require(inside);
    Require(rest.find('/') == std::string_view::npos && rest.find('\0') == std::string_view::npos);
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const std::string_view segment = rest.substr(0, rest.find('\\'));
        Require(segment != "." && segment != "..");
        rest.remove_prefix(segment.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HTTPServer* server = [] {
        auto* s = new HTTPServer("Fuzz");
        s->ReplaceConfiguration(FuzzConfiguration());
        return s;
    }();
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const auto record = server->Snapshot();
    const RequestContext context(*server, *record, nullptr, nullptr);
    SSIEngine engine(context);
    const std::string path = engine.TranslatePath(SSIVirtualURL(value));
    if (!path.empty()) CheckInsideRoots(*record, path);
    return 0;
}
