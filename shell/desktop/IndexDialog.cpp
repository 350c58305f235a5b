#include "shell/desktop/IndexDialog.h"

#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

IndexDialog::IndexDialog(HTTPConfiguration* config) {
    QCheckBox* automatic = MakeBox(105, "Use &Auto-Indexing");
    automatic->setChecked(config->AutoIndex & kAutoIndexOn);
    QCheckBox* table = MakeBox(104, "Use &Table Indexing");
    table->setChecked(config->AutoIndex & kAutoIndexTable);
    OnStore([automatic, table, config] {
        config->AutoIndex = (automatic->isChecked() ? kAutoIndexOn : 0u) | (table->isChecked() ? kAutoIndexTable : 0u);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(automatic);
    layout->addWidget(table);
    layout->addWidget(Note("A folder without its default index file is listed when auto-indexing is "
                           "on; table indexing lays the listing out as a table."));
    layout->addStretch();
}
