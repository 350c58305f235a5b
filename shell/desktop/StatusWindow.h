#pragma once
// The status window "Varevavo": the "HTTPD_MENU" menu bar (its "&Admin"
// popup doubles as the tray menu), the logo at the top right and the four
// status lines. Every menu item carries the object name "id" followed by its
// command id. Closing the window hides it while a tray icon can bring it
// back, and minimises it otherwise, so the program never becomes unreachable.

#include <QMainWindow>
#include <functional>
#include <vector>

#include "shell/MainWindow.h"

class QAction;
class QMenu;

class StatusWindow : public QMainWindow {
    Q_OBJECT
public:
    // command runs a menu command by id; lines gives the status lines to
    // paint (positions below the menu bar); trayShown tells whether a tray
    // icon is there to bring the window back.
    StatusWindow(std::function<void(unsigned)> command, std::function<std::vector<StatusLine>()> lines,
                 std::function<bool()> trayShown);

    // The "&Admin" popup, shown both in the menu bar and at the tray icon.
    QMenu* AdminMenu() const { return admin_; }
    // The menu item of a command id, or null.
    QAction* Action(unsigned id) const;
    // Where painting starts: the top of the area below the menu bar.
    int ClientTop() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* AddCommand(QMenu* menu, unsigned id, const QString& text);

    std::function<void(unsigned)> command_;
    std::function<std::vector<StatusLine>()> lines_;
    std::function<bool()> trayShown_;
    QMenu* admin_ = nullptr;
    QPixmap logo_;
};
