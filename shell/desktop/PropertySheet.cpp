#include "shell/desktop/PropertySheet.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <functional>

#include "config/HTTPConfiguration.h"
#include "platform/MessageDisplay.h"
#include "shell/desktop/AccessDialog.h"
#include "shell/desktop/AdvancedDialog.h"
#include "shell/desktop/HTTPSDialog.h"
#include "shell/desktop/DesktopMessages.h"
#include "shell/desktop/IndexDialog.h"
#include "shell/desktop/LoggingDialog.h"
#include "shell/desktop/MappingDialog.h"
#include "shell/desktop/NetworkDialog.h"
#include "shell/desktop/SecurityDialog.h"
#include "shell/desktop/ServerDialog.h"
#include "shell/desktop/UsersDialog.h"

namespace {

struct PageKind {
    const char* title;
    std::function<PropertyPage*(HTTPConfiguration*)> create;
};

template <class Page>
PageKind Simple(const char* title) {
    return {title, [](HTTPConfiguration* config) { return new Page(config); }};
}

PageKind ListPage(const char* title, std::vector<Mapping> HTTPConfiguration::*list) {
    return {title, [list](HTTPConfiguration* config) { return new MappingDialog(&(config->*list)); }};
}

// The pages in sheet order. CgiDos has no page.
const std::array<PageKind, PropertySheet::kPageCount>& Pages() {
    static const std::array<PageKind, PropertySheet::kPageCount> pages = {
        Simple<NetworkDialog>("Network"),
        Simple<ServerDialog>("Server"),
        Simple<SecurityDialog>("Security"),
        Simple<LoggingDialog>("Logging"),
        ListPage("Alias", &HTTPConfiguration::Alias),
        ListPage("Redirection", &HTTPConfiguration::Redir),
        ListPage("Standard CGI", &HTTPConfiguration::CgiBin),
        ListPage("Windows CGI", &HTTPConfiguration::CgiWin),
        ListPage("MIME", &HTTPConfiguration::Types),
        Simple<IndexDialog>("Indexing"),
        {"Users", [](HTTPConfiguration* config) { return new UsersDialog(&config->RealmList); }},
        {"Access",
         [](HTTPConfiguration* config) { return new AccessDialog(&config->AccessControlList, &config->RealmList); }},
        Simple<AdvancedDialog>("Advanced"),
        Simple<HTTPSDialog>("HTTPS"),
    };
    return pages;
}

}  // namespace

HTTPConfiguration* CurrentConfig = nullptr;

PropertySheet::PropertySheet(QWidget* owner, const std::string& caption, HTTPConfiguration* config)
    : QDialog(owner), config_(config), tabs_(new QTabWidget) {
    CurrentConfig = config;
    setWindowTitle(QString::fromStdString(caption) + " Properties");
    for (const PageKind& kind : Pages()) {
        // An empty holder stands in for the page until it is first shown.
        auto* holder = new QWidget;
        auto* layout = new QVBoxLayout(holder);
        layout->setContentsMargins(0, 0, 0, 0);
        tabs_->addTab(holder, kind.title);
    }
    // Wide enough for every tab title at once: scrolling through fourteen
    // tabs hides where a setting lives.
    tabs_->setMinimumWidth(tabs_->tabBar()->sizeHint().width() + 4);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("id1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("id2");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);

    CreatePage(0);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { CreatePage(index); });
}

PropertySheet::~PropertySheet() {
    for (PropertyPage* page : pages_)
        if (page) page->StoreValues();
    CurrentConfig = nullptr;
}

void PropertySheet::accept() {
    for (int index = 0; index < kPageCount; ++index) {
        QString problem;
        QLineEdit* bad = pages_[index] ? pages_[index]->CheckNumbers(&problem) : nullptr;
        if (!bad) continue;
        ShowPage(index);
        bad->setFocus();
        bad->selectAll();
        DesktopMessages::Show(this, windowTitle().toStdString(), problem.toStdString(), platform::MB_ICONEXCLAMATION);
        return;
    }
    QDialog::accept();
}

void PropertySheet::CreatePage(int index) {
    if (index < 0 || index >= kPageCount || pages_[index]) return;
    pages_[index] = Pages()[index].create(config_);
    tabs_->widget(index)->layout()->addWidget(pages_[index]);
}

void PropertySheet::ShowPage(int index) {
    CreatePage(index);
    tabs_->setCurrentIndex(index);
}

PropertyPage* PropertySheet::Page(int index) const {
    return index >= 0 && index < kPageCount ? pages_[index] : nullptr;
}

int HTTPProperties(QWidget* owner, const std::string& caption, HTTPConfiguration* config) {
    PropertySheet sheet(owner, caption, config);
    return sheet.exec() == QDialog::Accepted ? 1 : 0;
}
