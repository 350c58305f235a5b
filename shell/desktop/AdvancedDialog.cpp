#include "shell/desktop/AdvancedDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

AdvancedDialog::AdvancedDialog(HTTPConfiguration* config) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FlagBox(105, "Process &Server Side Includes", &config->ProcessSSI));
    layout->addWidget(FlagBox(104, "Enable &Perl CGI Support", &config->PerlCGI));
    layout->addWidget(FlagBox(107, "CGI &Debug Mode", &config->CGIDebugMode));
    layout->addWidget(FlagBox(108, "Send WinCGI &Password", &config->CGISendPassword));

    auto* form = new QFormLayout;
    AddRow(form, "Perl CGI &Command Line", TextField(106, &config->PerlCmdLine));
    AddRow(form, "Largest Request &Body (bytes, 0: no limit)",
           NumberField(109, &config->MaxBodySize, "Largest Request Body", 0, 0xffffffffU));
    layout->addLayout(form);

    auto* bounce = new QGroupBox("Bounce Site");
    auto* site = new QFormLayout(bounce);
    AddRow(site, "IP Address", TextField(101, &config->BounceSite));
    AddRow(site, "Port", NumberField(102, &config->BouncePort, "Bounce Site Port", 1, 65535));
    layout->addWidget(bounce);
    layout->addStretch();
}
