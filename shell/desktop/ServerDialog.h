#pragma once
// The "Server" page: site address and its dynamic lookup, document root,
// default index, the charset of plain text, admin e-mail, name resolution,
// version information and the workers' priority. Opening checks Low for 0,
// High for 2, Critical for 3 and Medium for any other value; closing stores
// the checked button's level (0 to 3) and leaves the value alone when none
// is checked.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class ServerDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit ServerDialog(HTTPConfiguration* config);
};
