#include "shell/desktop/SecurityDialog.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

SecurityDialog::SecurityDialog(HTTPConfiguration* config) {
    QCheckBox* enable = FlagBox(101, "Enable Master Key", &config->UseMasterKey);
    auto* form = new QFormLayout;
    QLineEdit* name = AddRow(form, "Name", TextField(102, &config->MasterUser));
    QLineEdit* password = AddRow(form, "Password", TextField(103, &config->MasterPassword));
    password->setEchoMode(QLineEdit::Password);
    EnableWhile(enable, {name, password});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enable);
    layout->addLayout(form);
    // The request pipeline makes no exception for scripts, so the note must
    // not promise one.
    layout->addWidget(Note("The master key allows PUT and DELETE access to all files, scripts "
                           "included, for remote publishing."));
    layout->addStretch();
}
