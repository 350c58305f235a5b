#pragma once
// The "Network" page: port, number of connections, the time-outs and the
// keep-alive switch (the Keep-Alive time-out is editable only while
// keep-alives are on). The thread count's range is the listener's to
// enforce, not the page's.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class NetworkDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit NetworkDialog(HTTPConfiguration* config);
};
