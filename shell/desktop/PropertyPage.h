#pragma once
// The base of the property sheet's pages. A page loads its controls from
// the configuration when it is created and writes them back when the sheet
// goes (after OK and after Cancel alike: the caller decides whether the
// copy is kept). Controls carry the object name "id" followed by their
// control id.
//
// Text fields take at most 255 characters. A text longer than that which
// the store already held is shown whole and kept as it is unless the user
// changes it, so that opening a page never shortens a setting behind the
// user's back. Numeric fields take digits only and have a range; the sheet
// checks them before it accepts (CheckNumbers), so a bad number is never
// saved. A page closed without that check (on Cancel) stores any other
// text, a number beyond 32 bits included, as 0.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

class QFormLayout;
class QLayout;
class QVBoxLayout;
class QListWidget;
class QPushButton;

class PropertyPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTextLimit = 255;

    PropertyPage() = default;

    // Writes every control back into the configuration, in the order they
    // were added; the sheet calls it once, as the page is closed.
    void StoreValues();
    // The first numeric field, in the order they were added, whose text is
    // not a number within its range, with *problem saying which field it
    // is and why; null when every number is good.
    QLineEdit* CheckNumbers(QString* problem) const;

    // The value of a numeric field's text: unsigned decimal, surrounding
    // spaces allowed, 0 for anything else.
    static uint32_t ParseNumber(const QString& text);
    // The same, telling a text that is not such a number (false) from 0.
    static bool ReadNumber(const QString& text, uint32_t* value);
    // At most kTextLimit characters of text, except that an unchanged text
    // keeps the value it was loaded from.
    static std::string ReadText(const QString& text, const std::string& loaded);
    // A named edit that takes at most kTextLimit characters (more when it
    // must show a longer loaded value whole).
    static QLineEdit* MakeEdit(int id, const QString& initial = QString());

protected:
    // Text, numeric and flag controls bound to a field of the configuration:
    // each is created, loaded, and registered for the write-back. A numeric
    // field is named in messages by name and takes min..max.
    static constexpr uint32_t kNoLimit = std::numeric_limits<uint32_t>::max();
    QLineEdit* TextField(int id, std::string* field);
    QLineEdit* NumberField(int id, int* field, const char* name, uint32_t min, uint32_t max);
    QLineEdit* NumberField(int id, uint32_t* field, const char* name, uint32_t min, uint32_t max);
    // A numeric edit sized for a number, showing value.
    static QLineEdit* NumberEdit(int id, uint32_t value);
    // A flag is stored as 1 when its box is checked and 0 when not.
    template <class Flag>
    QCheckBox* FlagBox(int id, const QString& label, Flag* field) {
        QCheckBox* box = MakeBox(id, label);
        box->setChecked(*field != 0);
        OnStore([box, field] { *field = box->isChecked() ? 1 : 0; });
        return box;
    }
    // A check box with its id that nothing binds (the page stores it itself).
    static QCheckBox* MakeBox(int id, const QString& label);
    // A label that names control (its buddy), for form rows.
    static QLabel* LabelFor(const QString& text, QWidget* control);
    // Adds the row "label: edit" to form; returns edit.
    static QLineEdit* AddRow(QFormLayout* form, const QString& label, QLineEdit* edit);
    // Enables controls only while box is checked, now and after every change.
    static void EnableWhile(QCheckBox* box, const std::vector<QWidget*>& controls);
    // A fixed note in a smaller, word-wrapped text.
    static QLabel* Note(const QString& text);
    // Adds a write-back step of the page's own.
    void OnStore(std::function<void()> store) { stores_.push_back(std::move(store)); }
    // A named push button that runs action when clicked and is never the
    // dialog's default (Enter in an edit must not press it).
    QPushButton* MakeButton(int id, const QString& label, std::function<void()> action);
    // A named single-selection list that calls selected whenever the user
    // changes its selection.
    QListWidget* MakeList(int id, std::function<void()> selected);
    // The row of the current line of list (its item data), or -1.
    static int SelectedRow(const QListWidget* list);
    // The item of items at the selected row of list, or null.
    template <class T>
    static T* SelectedItem(const QListWidget* list, std::vector<T>* items) {
        const int row = SelectedRow(list);
        return row >= 0 && static_cast<size_t>(row) < items->size() ? &(*items)[row] : nullptr;
    }
    // Removes that item; false when no line is selected.
    template <class T>
    static bool EraseSelected(const QListWidget* list, std::vector<T>* items) {
        T* item = SelectedItem(list, items);
        if (item) items->erase(items->begin() + (item - items->data()));
        return item != nullptr;
    }
    // A column of a list page: the title, the list, the edits below it and
    // a row of buttons.
    static QVBoxLayout* ListColumn(const QString& title, QListWidget* list, QLayout* edits,
                                   std::initializer_list<QWidget*> buttons);
    // Replaces the lines of list, each carrying its row as item data, and
    // selects the line at row (none when -1), without telling the page.
    static void FillList(QListWidget* list, const QStringList& lines, int row = -1);
    // Shows a problem with an edit of the page in a message box.
    void Complain(const QString& problem);

private:
    struct NumberRange {
        QLineEdit* edit;
        const char* name;
        uint32_t min;
        uint32_t max;
    };
    QLineEdit* Ranged(QLineEdit* edit, const char* name, uint32_t min, uint32_t max);

    std::vector<std::function<void()>> stores_;
    std::vector<NumberRange> ranges_;
};
