#include "shell/desktop/HTTPSDialog.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

HTTPSDialog::HTTPSDialog(HTTPConfiguration* config) {
    QCheckBox* useTLS = FlagBox(101, "Serve &HTTPS", &config->UseTLS);
    auto* form = new QFormLayout;
    QLineEdit* port = AddRow(form, "HTTPS Port", NumberField(102, &config->TLSPort, "HTTPS Port", 1, 65535));
    QLineEdit* certificate = AddRow(form, "Certificate File", TextField(103, &config->CertificateFile));
    QLineEdit* key = AddRow(form, "Key File", TextField(104, &config->KeyFile));
    QCheckBox* redirect = FlagBox(105, "&Redirect Plain Requests to HTTPS", &config->RedirectToTLS);
    QCheckBox* plain = FlagBox(106, "Allow Master Key &Credentials over Plain HTTP", &config->AllowPlainCredentials);
    EnableWhile(useTLS, {port, certificate, key, redirect, plain});
    QCheckBox* automatic = FlagBox(107, "Obtain and Renew Certificates &Automatically (ACME)", &config->AutoCertificate);
    auto* acme = new QFormLayout;
    QLineEdit* directory = AddRow(acme, "ACME Directory", TextField(108, &config->ACMEDirectory));
    QLineEdit* email = AddRow(acme, "Contact Email", TextField(109, &config->ACMEEmail));
    QLineEdit* names = AddRow(acme, "Certificate Names", TextField(110, &config->ACMENames));
    EnableWhile(automatic, {directory, email, names});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(useTLS);
    layout->addLayout(form);
    layout->addWidget(redirect);
    layout->addWidget(plain);
    layout->addWidget(Note("The certificate is a full chain in PEM form, the key its PEM private key. When "
                           "neither file exists at start, the server makes a self-signed pair there. OK "
                           "reloads them; a pair that cannot be loaded is refused and the one in force stays."));
    layout->addWidget(Note("A plain request from this machine is never redirected. While HTTPS is on, "
                           "master-key credentials sent in clear are refused unless allowed here."));
    layout->addWidget(automatic);
    layout->addLayout(acme);
    layout->addWidget(Note("Automatic certificates are proved on the plain port, which the authority must "
                           "reach on port 80 under every name (comma-separated; empty: the site address). "
                           "They are renewed when a third of their lifetime is left; the statistics page "
                           "shows the next renewal and the last error."));
    layout->addStretch();
}
