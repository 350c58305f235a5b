#include "shell/desktop/ServerDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

namespace {

// The priority buttons in the order they are tested on closing: the last
// checked one decides. Level i is the button at index i.
struct PriorityButton {
    int id;
    const char* label;
};
constexpr PriorityButton kPriorities[] = {{109, "&Low"}, {108, "&Medium"}, {107, "&High"}, {106, "&Critical"}};

int ButtonOfLevel(uint32_t level) {
    switch (level) {
        case 0: return 0;
        case 2: return 2;
        case 3: return 3;
        default: return 1;
    }
}

}  // namespace

ServerDialog::ServerDialog(HTTPConfiguration* config) {
    auto* form = new QFormLayout;
    AddRow(form, "Site Address", TextField(101, &config->SiteAddress));
    form->addRow(FlagBox(112, "Lookup Site Address (Dynamic)", &config->ResolveLocal));
    AddRow(form, "Server Root", TextField(102, &config->DocRoot));
    AddRow(form, "Default Index", TextField(103, &config->DefaultIndex));
    AddRow(form, "Default Charset (plain text)", TextField(113, &config->DefaultCharset));
    AddRow(form, "Admin Email", TextField(111, &config->AdminEmail));
    form->addRow(FlagBox(104, "Enable DNS Name Resolution", &config->ResolveName));
    form->addRow(FlagBox(105, "Send Version Information", &config->SendVersionInfo));
    form->addRow(FlagBox(114, "Compress Text Documents", &config->Compression));

    auto* priority = new QGroupBox("Server Priority");
    auto* row = new QHBoxLayout(priority);
    std::vector<QRadioButton*> buttons;
    for (const PriorityButton& choice : kPriorities) {
        auto* button = new QRadioButton(choice.label);
        button->setObjectName(QString("id%1").arg(choice.id));
        row->addWidget(button);
        buttons.push_back(button);
    }
    row->addStretch();
    buttons[ButtonOfLevel(config->PriorityLevel)]->setChecked(true);
    OnStore([buttons, config] {
        for (size_t level = 0; level < buttons.size(); ++level)
            if (buttons[level]->isChecked()) config->PriorityLevel = static_cast<uint32_t>(level);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(priority);
    layout->addStretch();
}
