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

    auto* perl = new QFormLayout;
    AddRow(perl, "Perl CGI &Command Line", TextField(106, &config->PerlCmdLine));
    layout->addLayout(perl);

    auto* bounce = new QGroupBox("Bounce Site");
    auto* form = new QFormLayout(bounce);
    AddRow(form, "IP Address", TextField(101, &config->BounceSite));
    AddRow(form, "Port", NumberField(102, &config->BouncePort, "Bounce Site Port", 1, 65535));
    layout->addWidget(bounce);
    layout->addStretch();
}
