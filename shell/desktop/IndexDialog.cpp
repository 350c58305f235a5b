#include "shell/desktop/IndexDialog.h"

#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

IndexDialog::IndexDialog(HTTPConfiguration* config) {
    QCheckBox* automatic = MakeBox(105, "Use &Auto-Indexing");
    automatic->setChecked(config->AutoIndex & 1);
    QCheckBox* table = MakeBox(104, "Use &Table Indexing");
    table->setChecked(config->AutoIndex & 2);
    OnStore([automatic, table, config] {
        config->AutoIndex = (automatic->isChecked() ? 1u : 0u) | (table->isChecked() ? 2u : 0u);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(automatic);
    layout->addWidget(table);
    layout->addWidget(Note("A folder without its default index file is listed when auto-indexing is "
                           "on; table indexing lays the listing out as a table."));
    layout->addStretch();
}
