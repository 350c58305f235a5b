#pragma once
// The "Network" page: port, number of connections, the time-outs and the
// keep-alive switch (the Keep-Alive time-out is editable only while
// keep-alives are on). The port takes 1..65535 and the number of
// connections 8..512, the range the listener holds the pool to.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class NetworkDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit NetworkDialog(HTTPConfiguration* config);
};
