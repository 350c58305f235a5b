#include "shell/desktop/StatusWindow.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPainter>

#include "shell/desktop/DesktopResources.h"

namespace {

constexpr int kWidth = 335;
constexpr int kHeight = 235;
// The logo's top-right corner, in the area below the menu bar.
constexpr int kLogoRight = 320;
constexpr int kLogoTop = 5;
constexpr int kLinePixels = 12;

}  // namespace

StatusWindow::StatusWindow(std::function<void(unsigned)> command, std::function<std::vector<StatusLine>()> lines,
                           std::function<bool()> trayShown)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      command_(std::move(command)),
      lines_(std::move(lines)),
      trayShown_(std::move(trayShown)),
      logo_(DesktopResources::Logo()) {
    setWindowTitle("Varevavo");
    setWindowIcon(DesktopResources::Icon());
    setFixedSize(kWidth, kHeight);

    QMenuBar* bar = menuBar();
    bar->setObjectName("HTTPD_MENU");
    // The status window keeps its own menu bar even where the desktop offers
    // a global one: the same popup also serves the tray.
    bar->setNativeMenuBar(false);

    admin_ = bar->addMenu("&Admin");
    QAction* accept = AddCommand(admin_, CmdAcceptConnections, "&Accept Connections");
    QAction* available = AddCommand(admin_, CmdAvailable, "A&vailable");
    for (QAction* flag : {accept, available}) {
        flag->setCheckable(true);
        flag->setChecked(true);
    }
    admin_->addSeparator();
    AddCommand(admin_, CmdResolveDynamicIP, "&Resolve Dynamic IP");
    AddCommand(admin_, CmdFlushConnections, "&Flush Connections");
    AddCommand(admin_, CmdShutdown, "&Shutdown Server");
    admin_->addSeparator();
    admin_->setDefaultAction(AddCommand(admin_, CmdProperties, "&Properties"));

    QMenu* help = bar->addMenu("&Help");
    AddCommand(help, CmdAbout, "&About...");
}

QAction* StatusWindow::AddCommand(QMenu* menu, unsigned id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString("id%1").arg(id));
    // Qt flips a checkable item by itself; SetMenuCheck then sets it from
    // the flag, so the mark always shows the flag's value.
    connect(action, &QAction::triggered, this, [this, id] { command_(id); });
    return action;
}

QAction* StatusWindow::Action(unsigned id) const { return findChild<QAction*>(QString("id%1").arg(id)); }

int StatusWindow::ClientTop() const { return menuBar()->geometry().bottom() + 1; }

void StatusWindow::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    QPainter painter(this);
    painter.translate(0, ClientTop());
    if (!logo_.isNull()) painter.drawPixmap(kLogoRight - logo_.width(), kLogoTop, logo_);

    QFont font("Arial");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kLinePixels);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    for (const StatusLine& line : lines_()) {
        const QRect cell(line.x, line.y, width() - line.x, painter.fontMetrics().height());
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, QString::fromStdString(line.text));
    }
}

void StatusWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (trayShown_()) hide();
    else showMinimized();
}
