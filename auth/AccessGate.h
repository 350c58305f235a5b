#pragma once
// Protected folders: which access-control list governs a request, and
// whether a user's credentials open it for a method.
//
// A list covers its Path and everything below it, compared as the mapping
// lists compare (without case, at a slash boundary), with trailing slashes
// of Path ignored ("/" covers everything). Of the lists that cover a URL
// path, the one with the longest Path governs it. A URL that no list covers
// may still reach a covered folder's files through another name (an alias
// onto it, or onto a folder above it): then the list whose folder holds the
// file governs. A governing list without entries protects nothing.

#include <string>
#include <string_view>

class AuthACL;
struct CredentialMemo;
class HTTPConfiguration;

class AccessGate {
public:
    // What credentials come to under a list.
    enum class Verdict {
        Granted,     // the password matches and the method is granted
        Refused,     // no such user in the list's realm, or a wrong password: 401
        NotGranted,  // the right password, but the method is not granted: 403
    };

    // The list that governs a normalised URL path and the file path it maps
    // to (empty when it names no file); null when none does, or when the
    // governing list has no entries. In the same pass, *listingBarred (when
    // given) tells whether a list with DisableAutoIndex covers the request,
    // whether or not it has entries.
    static const AuthACL* Governing(const HTTPConfiguration& config, std::string_view url,
                                    std::string_view physicalPath, bool* listingBarred = nullptr);
    // Checks user (name without case) and password (exactly, as stored:
    // plain or hashed) against the list's realm, and method (its code: bit
    // n of an entry's mask) against the entries naming the user or a group
    // of the realm that has the user as a member. *compared tells whether a
    // password was compared. memo (null: none) holds credentials verified
    // on the same connection: a password that matched the same stored value
    // with the same given credentials is not hashed again, and one that
    // matches now is kept there.
    static Verdict Check(const HTTPConfiguration& config, const AuthACL& list, std::string_view user,
                         std::string_view password, int method, bool* compared,
                         std::string_view given = {}, CredentialMemo* memo = nullptr);
    // The WWW-Authenticate value asking for the realm's credentials: quotes
    // and backslashes escaped, control bytes left out (they could end the
    // header line).
    static std::string Challenge(std::string_view realm);
};
