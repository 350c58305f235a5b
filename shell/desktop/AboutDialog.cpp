#include "shell/desktop/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/MainWindow.h"
#include "shell/desktop/DesktopResources.h"

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
    setObjectName("ABOUT_DIALOG");
    setWindowTitle("About Varevavo");

    auto* icon = new QLabel;
    icon->setPixmap(DesktopResources::Icon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);

    auto* version = new QLabel(MainWindow::kAboutLine);
    version->setObjectName("AboutLine");
    auto* note = new QLabel("A small web server for the desktop and the home box.\n"
                            "This edition runs on Linux.");

    auto* lines = new QVBoxLayout;
    lines->addWidget(version);
    lines->addWidget(note);
    lines->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(8);
    top->addLayout(lines);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("id1");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
