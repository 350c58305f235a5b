#include "shell/desktop/LoggingDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

LoggingDialog::LoggingDialog(HTTPConfiguration* config) {
    struct Log {
        const char* name;
        int boxId;
        uint32_t* mask;
        int editId;
        std::string* file;
    };
    const Log logs[] = {
        {"Access Log", 104, &config->AccessLogMask, 101, &config->AccessLogFileName},
        {"Error Log", 105, &config->ErrorLogMask, 102, &config->ErrorLogFileName},
        {"Referrer Log", 106, &config->ReferrerLogMask, 103, &config->ReferrerLogFileName},
        {"Trace Log", 108, &config->TraceLogMask, 107, &config->TraceLogFileName},
    };
    auto* grid = new QGridLayout;
    int row = 0;
    for (const Log& log : logs) {
        QCheckBox* use = FlagBox(log.boxId, "Use", log.mask);
        QLineEdit* file = TextField(log.editId, log.file);
        grid->addWidget(LabelFor(log.name, file), row, 0);
        grid->addWidget(use, row, 1);
        grid->addWidget(file, row, 2);
        EnableWhile(use, {file});
        ++row;
    }
    grid->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(Note("Changes to the logs take effect as soon as the sheet is accepted."));
    layout->addStretch();
}
