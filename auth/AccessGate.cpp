#include "auth/AccessGate.h"

#include <algorithm>
#include <optional>

#include "auth/AuthACL.h"
#include "auth/AuthRealm.h"
#include "config/HTTPConfiguration.h"
#include "http/HTTPRequest.h"
#include "http/LetterCase.h"
#include "net/CredentialMemo.h"
#include "platform/PasswordHash.h"
#include "platform/Paths.h"
#include "server/URLMapping.h"

namespace {

// A list's Path as the URL paths it is compared with: normalised as a
// request's URL is, and without trailing slashes, so that "/" covers
// everything and "/secret/" covers what "/secret" does. Nothing for a
// path that no URL can name.
std::optional<std::string> CoveredURL(const std::string& path) {
    std::string url = path.empty() || path[0] == '/' || path[0] == '\\' ? path : "/" + path;
    if (NormaliseURL(&url) != URLFault::None) return std::nullopt;
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

// True when url is covered (the path itself or below it at a slash).
bool Covers(std::string_view covered, std::string_view url) {
    return StartsWithNoCase(url, covered) && (url.size() == covered.size() || url[covered.size()] == '/');
}

// A file path made comparable: in its host form (a drive and its folder
// are one place however they are written), runs of slashes are one, and
// none trails.
std::string Comparable(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : platform::HostPath(path)) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    while (!out.empty() && out.back() == '/') out.pop_back();
    return out;
}

// The folder a list's Path names on disk, comparable; empty when it names
// none (a redirection, a path no URL can name).
std::string CoveredFolder(const HTTPConfiguration& config, const std::optional<std::string>& covered) {
    if (!covered) return {};
    const URLMapping mapping(config, covered->empty() ? std::string_view("/") : std::string_view(*covered));
    if (mapping.Kind == ResourceRedirect) return {};
    return Comparable(mapping.PhysicalPath);
}

// Calls found(list, length) for every list covering the URL path, and, when
// none does, for every list whose folder holds the file path (length: of
// what covered it).
template <typename Found>
void EachCovering(const HTTPConfiguration& config, std::string_view url, std::string_view physicalPath, Found found) {
    bool any = false;
    for (const AuthACL& list : config.AccessControlList) {
        const std::optional<std::string> covered = CoveredURL(list.Path);
        if (covered && Covers(*covered, url)) {
            found(list, covered->size());
            any = true;
        }
    }
    if (any || physicalPath.empty()) return;
    const std::string file = Comparable(physicalPath);
    for (const AuthACL& list : config.AccessControlList) {
        const std::string folder = CoveredFolder(config, CoveredURL(list.Path));
        if (!folder.empty() && Covers(folder, file)) found(list, folder.size());
    }
}

}  // namespace

const AuthACL* AccessGate::Governing(const HTTPConfiguration& config, std::string_view url,
                                     std::string_view physicalPath, bool* listingBarred) {
    const AuthACL* governing = nullptr;
    size_t longest = 0;
    bool barred = false;
    EachCovering(config, url, physicalPath, [&](const AuthACL& list, size_t length) {
        barred |= list.DisableAutoIndex != 0;
        if (!governing || length > longest) {
            governing = &list;
            longest = length;
        }
    });
    if (listingBarred) *listingBarred = barred;
    return governing && !governing->Access.empty() ? governing : nullptr;
}

AccessGate::Verdict AccessGate::Check(const HTTPConfiguration& config, const AuthACL& list, std::string_view user,
                                      std::string_view password, int method, bool* compared,
                                      std::string_view given, CredentialMemo* memo) {
    *compared = false;
    const auto realm = std::find_if(config.RealmList.begin(), config.RealmList.end(),
                                    [&](const AuthRealm& r) { return EqualNoCase(r.Name, list.Realm); });
    if (realm == config.RealmList.end() || user.empty()) return Verdict::Refused;
    const auto account = std::find_if(realm->Users.begin(), realm->Users.end(),
                                      [&](const AuthUser& u) { return EqualNoCase(u.Name, user); });
    if (account == realm->Users.end()) return Verdict::Refused;
    const bool known = memo && !given.empty() && memo->stored == account->Password && EqualSecret(memo->given, given);
    if (!known) {
        *compared = true;
        if (!platform::PasswordMatches(account->Password, password)) return Verdict::Refused;
        if (memo && !given.empty()) *memo = CredentialMemo{std::string(given), account->Password};
    }
    const auto isMember = [&](const std::string& group) {
        for (const AuthGroup& g : realm->Groups)
            if (EqualNoCase(g.Name, group) &&
                std::any_of(g.Members.begin(), g.Members.end(), [&](const std::string& m) { return EqualNoCase(m, user); }))
                return true;
        return false;
    };
    uint32_t granted = 0;
    for (const AuthAccess& entry : list.Access) {
        if (entry.EntryType == 0 ? EqualNoCase(entry.Name, user) : entry.EntryType == 1 && isMember(entry.Name))
            granted |= entry.Mask;
    }
    const bool methodGranted = method > 0 && method < 32 && (granted >> method & 1u) != 0;
    return methodGranted ? Verdict::Granted : Verdict::NotGranted;
}

std::string AccessGate::Challenge(std::string_view realm) {
    std::string value = "Basic realm=\"";
    for (const char c : realm) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) continue;
        if (c == '"' || c == '\\') value += '\\';
        value += c;
    }
    value += '"';
    return value;
}
