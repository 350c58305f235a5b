#pragma once
// The files of automatic certificates in the home, and the HTTP-01
// challenge answers among them.
//
// While the ACME helper proves a name, its hook writes the key
// authorization of each pending challenge to a file named after the token
// in ChallengeFolder, and removes it when the challenge ends; the plain port
// answers GET /.well-known/acme-challenge/<token> from that file alone, so
// that nothing else of the home or the document root is ever reachable
// through the path, and an ended challenge answers nothing.

#include <string>
#include <string_view>

class ACMEChallenge {
public:
    // The helper's folder (server form): the account key, and for each
    // certificate <name>\cert.pem and private\<name>\key.pem.
    static constexpr const char* kFolder = "C:\\HTTPD\\TLS\\ACME";
    // Where pending challenges wait (server form).
    static constexpr const char* kChallengeFolder = "C:\\HTTPD\\TLS\\ACME\\challenges";
    // The URL path of a challenge, before its token.
    static constexpr std::string_view kPathPrefix = "/.well-known/acme-challenge/";

    // A token as an authority makes it: 1 to 255 characters of the base64url
    // alphabet. Nothing else ever becomes a file name here, so neither a
    // separator, a dot nor an escape can lead out of the folder.
    static bool IsToken(std::string_view token);
    // For a request path of a pending challenge: true with *authorization the
    // text to answer. False for any other path, a token not of the alphabet,
    // or a challenge that has ended.
    static bool Answer(std::string_view path, std::string* authorization);
    // Makes the challenge of token pending with its key authorization. False
    // for a bad token or a file that cannot be written.
    static bool Begin(std::string_view token, std::string_view authorization);
    // Ends the challenge of token. True when nothing of it is left.
    static bool End(std::string_view token);
};
