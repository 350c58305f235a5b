#include "shell/desktop/SecurityDialog.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "config/HTTPConfiguration.h"
#include "platform/PasswordHash.h"

SecurityDialog::SecurityDialog(HTTPConfiguration* config) {
    QCheckBox* enable = FlagBox(101, "Enable Master Key", &config->UseMasterKey);
    auto* form = new QFormLayout;
    QLineEdit* name = AddRow(form, "Name", TextField(102, &config->MasterUser));
    // The stored password is never put in the field, hashed or plain: an
    // empty field keeps it, and a password typed there is stored hashed.
    QLineEdit* password = AddRow(form, "Password", MakeEdit(103));
    password->setEchoMode(QLineEdit::Password);
    password->setPlaceholderText(config->MasterPassword.empty() ? "none set" : "unchanged");
    OnStore([password, config] {
        if (password->text().isEmpty()) return;
        // Without a hash the stored password stays: storing the new one in
        // clear would undo what the field promises.
        if (std::string hash = platform::HashPassword(password->text().toStdString()); !hash.empty())
            config->MasterPassword = std::move(hash);
    });
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
