#include "visitor/VisitorScript.h"

#include <cstdint>

#include "http/Escapes.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "visitor/CounterImage.h"
#include "visitor/CounterStore.h"

namespace {

// The reference name was read into a 256-byte buffer.
constexpr size_t kMaxName = 255;

// Headers that make every view fetch (and count) the picture again.
constexpr const char* kNoCache =
    "Pragma: no-cache\r\n"
    "Cache-Control: no-cache\r\n"
    "Expires: Thu, 01 Jan 1970 00:00:00 GMT\r\n";

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A complete response of the script's own, so the status reaches the client.
std::string Refusal(const char* status) {
    const std::string image = CounterImage::ForError();
    return std::string("HTTP/1.0 ") + status + "\r\nContent-Type: image/gif\r\nContent-Length: " +
           std::to_string(image.size()) + "\r\n" + kNoCache + "\r\n" + image;
}

}  // namespace

bool VisitorScript::NameOf(const std::string& query, std::string* name) {
    std::string decoded = DecodeEscape(query);
    if (decoded.empty() || decoded.size() > kMaxName) return false;
    for (char c : decoded)
        if (c == '\0' || IsWhiteSpace(c)) return false;
    *name = std::move(decoded);
    return true;
}

std::string VisitorScript::Answer(const std::string& method, const std::string& query, const std::string& home) {
    if (method != "GET" && method != "HEAD") return Refusal("405 Method Not Allowed");
    std::string name;
    if (!NameOf(query, &name)) return Refusal("400 Bad Counter Name");
    // The store is never made here: a home without one is not a server's.
    // (scripts/run.sh tells its own earlier copies by this status text.)
    platform::FileInfo store;
    if (home.empty() || !platform::GetFileInfo(home + "/registry.db", &store) || store.directory)
        return Refusal("500 Counter Store Not Found");
    platform::SetVarevavoHome(home);
    uint32_t count = 0;
    const long result = method == "GET" ? CounterStore::Hit(name, &count) : CounterStore::Peek(name, &count);
    if (result != platform::reg::ERROR_SUCCESS) return Refusal("500 Counter Store Failed");
    return std::string("Content-Type: image/gif\r\n") + kNoCache + "\r\n" + CounterImage::ForCount(count);
}
