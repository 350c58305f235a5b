#pragma once
// The "Security" page: the master key, whose name and password are
// editable only while the key is enabled. The password field starts empty
// whatever is stored; a password typed there is stored as a hash.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class SecurityDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit SecurityDialog(HTTPConfiguration* config);
};
