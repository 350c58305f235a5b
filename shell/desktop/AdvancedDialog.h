#pragma once
// The "Advanced" page: server-side includes, Perl and Windows CGI options,
// the Perl command line, the largest request body stored and the bounce
// site used to learn the own address.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class AdvancedDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit AdvancedDialog(HTTPConfiguration* config);
};
