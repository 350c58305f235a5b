#pragma once
// The about box "ABOUT_DIALOG": the program's icon, the version line and
// an OK button (id 1) that closes it.

#include <QDialog>

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* owner);
};
