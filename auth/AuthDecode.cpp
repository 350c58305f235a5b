#include "auth/AuthDecode.h"

#include "http/Base64.h"
#include "http/Characters.h"
#include "http/Escapes.h"
#include "http/HTTPRequest.h"
#include "http/LetterCase.h"

bool AuthDecode::Decode(HTTPRequest* request, HTTPResponse*) {
    request->AuthType.clear();
    request->RealmName.clear();
    request->User.clear();
    request->Password.clear();
    if (request->Header[Hdr::Authorization].empty()) return true;
    Credentials = request->Header[Hdr::Authorization];
    Scheme = StringToken(&Credentials, " ");
    Credentials = std::string(TrimSpaces(Credentials));
    if (EqualNoCase(Scheme, "Basic")) BasicAuthentication();
    else if (EqualNoCase(Scheme, "Digest")) DigestAuthentication();
    else return false;
    request->AuthType = Scheme;
    request->User = UserName;
    request->Password = Password;
    return true;
}

void AuthDecode::BasicAuthentication() {
    Credentials = DecodeBase64(Credentials);
    UserName = StringToken(&Credentials, ":");
    Password = Credentials;
}

void AuthDecode::DigestAuthentication() {}
