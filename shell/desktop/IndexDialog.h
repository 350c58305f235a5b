#pragma once
// The "Indexing" page: automatic directory listings (bit 0 of AutoIndex)
// and their table layout (bit 1). Closing rebuilds AutoIndex from the two
// boxes alone.

#include "shell/desktop/PropertyPage.h"

class HTTPConfiguration;

class IndexDialog : public PropertyPage {
    Q_OBJECT
public:
    explicit IndexDialog(HTTPConfiguration* config);
};
