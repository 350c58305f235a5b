#pragma once
// The "HTTPS" page: whether HTTPS is served and on which port, the
// certificate and key files, the redirect of plain requests to HTTPS and
// the exception for master-key credentials in clear. The port and files
// are editable only while HTTPS is on; the port takes 1..65535.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class HTTPSDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit HTTPSDialog(HTTPConfiguration* config);
};
