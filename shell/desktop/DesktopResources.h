#pragma once
// The pictures of the desktop front end, built into the program: the icon
// "HTTPD_ICON" (tray, windows, about box) and the logo "DAVUDOVADEZA"
// drawn at the top right of the status window.

#include <QIcon>
#include <QPixmap>

class DesktopResources {
public:
    // The program's icon, in every size it is drawn at.
    static QIcon Icon();
    // The status window's logo.
    static QPixmap Logo();
};
