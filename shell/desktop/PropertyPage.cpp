#include "shell/desktop/PropertyPage.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "platform/MessageDisplay.h"
#include "shell/desktop/DesktopMessages.h"

void PropertyPage::StoreValues() {
    for (const auto& store : stores_) store();
}

QLineEdit* PropertyPage::CheckNumbers(QString* problem) const {
    for (const NumberRange& range : ranges_) {
        const QString text = range.edit->text().trimmed();
        uint32_t value = 0;
        const bool number = ReadNumber(text, &value);
        if (number && value >= range.min && value <= range.max) continue;
        const QString wanted = QString("Enter a whole number from %1 to %2.").arg(range.min).arg(range.max);
        if (!number)
            *problem = QString("%1: \"%2\" is not a number. %3").arg(range.name, text, wanted);
        else
            *problem = QString("%1: %2 is out of range. %3").arg(range.name).arg(value).arg(wanted);
        return range.edit;
    }
    return nullptr;
}

uint32_t PropertyPage::ParseNumber(const QString& text) {
    uint32_t value = 0;
    return ReadNumber(text, &value) ? value : 0;
}

bool PropertyPage::ReadNumber(const QString& text, uint32_t* value) {
    const QString digits = text.trimmed();
    if (digits.isEmpty()) return false;
    uint64_t number = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        number = number * 10 + static_cast<uint64_t>(c.unicode() - '0');
        if (number > std::numeric_limits<uint32_t>::max()) return false;
    }
    *value = static_cast<uint32_t>(number);
    return true;
}

std::string PropertyPage::ReadText(const QString& text, const std::string& loaded) {
    const QString before = QString::fromStdString(loaded);
    if (text == before) return loaded;
    return text.left(kTextLimit).toStdString();
}

QLineEdit* PropertyPage::MakeEdit(int id, const QString& initial) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString("id%1").arg(id));
    edit->setMaxLength(std::max<int>(kTextLimit, static_cast<int>(initial.size())));
    edit->setText(initial);
    return edit;
}

QLineEdit* PropertyPage::TextField(int id, std::string* field) {
    QLineEdit* edit = MakeEdit(id, QString::fromStdString(*field));
    const std::string loaded = *field;
    OnStore([edit, field, loaded] { *field = ReadText(edit->text(), loaded); });
    return edit;
}

QLineEdit* PropertyPage::NumberField(int id, uint32_t* field, const char* name, uint32_t min, uint32_t max) {
    QLineEdit* edit = NumberEdit(id, *field);
    OnStore([edit, field] { *field = ParseNumber(edit->text()); });
    return Ranged(edit, name, min, max);
}

QLineEdit* PropertyPage::NumberField(int id, int* field, const char* name, uint32_t min, uint32_t max) {
    // A signed field is shown and read as the unsigned pattern it is stored
    // as, so that any stored value survives the round trip.
    QLineEdit* edit = NumberEdit(id, static_cast<uint32_t>(*field));
    OnStore([edit, field] { *field = static_cast<int>(ParseNumber(edit->text())); });
    return Ranged(edit, name, min, max);
}

QLineEdit* PropertyPage::Ranged(QLineEdit* edit, const char* name, uint32_t min, uint32_t max) {
    ranges_.push_back({edit, name, min, max});
    return edit;
}

QLineEdit* PropertyPage::NumberEdit(int id, uint32_t value) {
    QLineEdit* edit = MakeEdit(id, QString::number(value));
    // Typing takes digits only; a text set otherwise is checked on OK.
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), edit));
    // Room for the longest 32-bit number and a little more, not the page's width.
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QString(12, '0')) + 12);
    return edit;
}

QCheckBox* PropertyPage::MakeBox(int id, const QString& label) {
    auto* box = new QCheckBox(label);
    box->setObjectName(QString("id%1").arg(id));
    return box;
}

QLabel* PropertyPage::LabelFor(const QString& text, QWidget* control) {
    auto* label = new QLabel(text);
    label->setBuddy(control);
    return label;
}

QLineEdit* PropertyPage::AddRow(QFormLayout* form, const QString& label, QLineEdit* edit) {
    form->addRow(LabelFor(label, edit), edit);
    return edit;
}

void PropertyPage::EnableWhile(QCheckBox* box, const std::vector<QWidget*>& controls) {
    const auto apply = [box, controls] {
        for (QWidget* control : controls) control->setEnabled(box->isChecked());
    };
    apply();
    QObject::connect(box, &QCheckBox::toggled, box, apply);
}

QLabel* PropertyPage::Note(const QString& text) {
    auto* note = new QLabel(text);
    note->setWordWrap(true);
    QFont font = note->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    note->setFont(font);
    return note;
}

QPushButton* PropertyPage::MakeButton(int id, const QString& label, std::function<void()> action) {
    auto* button = new QPushButton(label);
    button->setObjectName(QString("id%1").arg(id));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, std::move(action));
    return button;
}

QListWidget* PropertyPage::MakeList(int id, std::function<void()> selected) {
    auto* list = new QListWidget;
    list->setObjectName(QString("id%1").arg(id));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(list, &QListWidget::itemSelectionChanged, this, std::move(selected));
    return list;
}

int PropertyPage::SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : selected.front()->data(Qt::UserRole).toInt();
}

void PropertyPage::FillList(QListWidget* list, const QStringList& lines, int row) {
    const QSignalBlocker quiet(list);
    list->clear();
    for (int i = 0; i < lines.size(); ++i) {
        auto* line = new QListWidgetItem(lines[i]);
        line->setData(Qt::UserRole, i);
        list->addItem(line);
    }
    if (row >= 0 && row < lines.size()) list->setCurrentRow(row);
}

void PropertyPage::Complain(const QString& problem) {
    // Problems are also told on the command line, in lower case and without
    // a full stop; a message box shows a sentence.
    QString sentence = problem;
    if (!sentence.isEmpty()) sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith('.')) sentence += '.';
    DesktopMessages::Show(this, "Varevavo", sentence.toStdString(), platform::MB_ICONEXCLAMATION);
}

QVBoxLayout* PropertyPage::ListColumn(const QString& title, QListWidget* list, QLayout* edits,
                                      std::initializer_list<QWidget*> buttons) {
    auto* column = new QVBoxLayout;
    column->addWidget(new QLabel(title));
    column->addWidget(list, 1);
    column->addLayout(edits);
    auto* row = new QHBoxLayout;
    for (QWidget* button : buttons) row->addWidget(button);
    row->addStretch();
    column->addLayout(row);
    return column;
}
