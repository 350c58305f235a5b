#pragma once
// Turns a request's Authorization header into its AuthType, User and
// Password. Only the Basic scheme is decoded; Digest is recognised and
// accepted without decoding. One object serves one request.

#include <string>

class HTTPRequest;
class HTTPResponse;

class AuthDecode {
public:
    std::string Credentials;  // working text
    std::string Scheme;       // the scheme word, as sent
    std::string UserName;
    std::string Password;

    // Clears the request's AuthType, RealmName, User and Password, then fills
    // them from its Authorization header. True when there is no header or the
    // scheme (compared without letter case) is Basic or Digest; false for any
    // other scheme, with the fields left empty. The response is not touched.
    bool Decode(HTTPRequest* request, HTTPResponse* response);
    // Base64-decodes Credentials and splits it at the first colon into
    // UserName and Password.
    void BasicAuthentication();
    // Digest credentials are accepted but not interpreted.
    void DigestAuthentication();
};
