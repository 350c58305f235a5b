#pragma once
// The settings property sheet: a modal dialog "<caption> Properties" with
// fourteen pages (Network, Server, Security, Logging, Alias, Redirection,
// Standard CGI, Windows CGI, MIME, Indexing, Users, Access, Advanced, HTTPS),
// OK and Cancel and
// no Apply. A page is created the first time it is shown, so a page the
// user never opened leaves its settings untouched. While the sheet lives,
// CurrentConfig names the configuration it edits.

#include <QDialog>
#include <array>
#include <string>

class HTTPConfiguration;
class PropertyPage;
class QTabWidget;

// The record the property sheet is editing while it is open; null otherwise.
extern HTTPConfiguration* CurrentConfig;

class PropertySheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPageCount = 14;

    // Edits config, which must outlive the sheet; the first page is created.
    PropertySheet(QWidget* owner, const std::string& caption, HTTPConfiguration* config);
    // Every page that was created writes its controls back into the
    // configuration, in page order, whether the sheet was accepted or not;
    // CurrentConfig is cleared.
    ~PropertySheet() override;

    // Shows the page at index (0 to kPageCount - 1), creating it the first time.
    void ShowPage(int index);
    // The page at index if it was created, else null.
    PropertyPage* Page(int index) const;
    QTabWidget* Tabs() const { return tabs_; }

    // OK: accepts only when every number on the pages opened is good;
    // otherwise shows the page of the first bad one, puts the cursor in it
    // and says which field is wrong and why.
    void accept() override;

private:
    void CreatePage(int index);

    HTTPConfiguration* config_;
    QTabWidget* tabs_;
    std::array<PropertyPage*, kPageCount> pages_{};
};

// Runs the property sheet on config, modally, owned by owner; 0 after
// Cancel, non-zero after OK. The pages write into config either way: a
// caller that gets 0 discards it.
int HTTPProperties(QWidget* owner, const std::string& caption, HTTPConfiguration* config);
