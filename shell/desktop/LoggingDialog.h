#pragma once
// The "Logging" page: for each of the access, error, referrer and trace
// logs a "Use" box and the file name, editable only while its box is
// checked.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class LoggingDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit LoggingDialog(HTTPConfiguration* config);
};
