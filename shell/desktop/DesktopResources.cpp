#include "shell/desktop/DesktopResources.h"

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void RegisterDesktopResources() {
    // The resources live in a static library, whose registration the linker
    // would otherwise drop as unreferenced.
    static const bool registered = [] {
        Q_INIT_RESOURCE(desktop);
        return true;
    }();
    (void)registered;
}

QIcon DesktopResources::Icon() {
    RegisterDesktopResources();
    QIcon icon;
    for (const char* size : {"16", "32", "64"}) icon.addFile(QString(":/HTTPD_ICON_") + size);
    return icon;
}

QPixmap DesktopResources::Logo() {
    RegisterDesktopResources();
    return QPixmap(":/DAVUDOVADEZA");
}
