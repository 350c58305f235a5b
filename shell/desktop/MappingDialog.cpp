#include "shell/desktop/MappingDialog.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "platform/MessageDisplay.h"
#include "shell/desktop/DesktopMessages.h"

namespace {

// Draws a line "first<tab>second" with the second text starting at one tab
// stop, 100 dialog units (25 average character widths) from the left.
class TabStopDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        QStyle* style = item.widget ? item.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
        QTextOption layout(Qt::AlignLeft | Qt::AlignVCenter);
        layout.setWrapMode(QTextOption::NoWrap);
        layout.setTabStopDistance(25.0 * item.fontMetrics.averageCharWidth());
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(item.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                : QPalette::Text));
        painter->setClipRect(area);
        painter->drawText(QRectF(area), text, layout);
        painter->restore();
    }
};

QString ReadEdit(const QLineEdit* edit) { return edit->text().left(PropertyPage::kTextLimit); }

template <class T>
T* Control(const QWidget* page, int id) {
    return page->findChild<T*>(QString("id%1").arg(id));
}

}  // namespace

MappingDialog::MappingDialog(std::vector<Mapping>* list) : list_(list) {
    auto* form = new QFormLayout;
    AddRow(form, "Virtual", MakeEdit(kFirstEdit));
    AddRow(form, "Actual", MakeEdit(kSecondEdit));

    auto* buttons = new QHBoxLayout;
    const struct {
        int id;
        const char* label;
        void (MappingDialog::*action)();
    } commands[] = {{kAddButton, "&Add", &MappingDialog::Add},
                    {kReplaceButton, "&Replace", &MappingDialog::Replace},
                    {kDeleteButton, "&Delete", &MappingDialog::Delete}};
    for (const auto& command : commands) {
        auto* button = new QPushButton(command.label);
        button->setObjectName(QString("id%1").arg(command.id));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, command.action);
        buttons->addWidget(button);
    }
    buttons->addStretch();

    auto* listBox = new QListWidget;
    listBox->setObjectName(QString("id%1").arg(kListBox));
    listBox->setSelectionMode(QAbstractItemView::SingleSelection);
    listBox->setItemDelegate(new TabStopDelegate(listBox));
    connect(listBox, &QListWidget::itemSelectionChanged, this, &MappingDialog::Selected);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(listBox, 1);

    Refresh();
}

int MappingDialog::FillMappingListBox(QWidget* page, int listBoxId, const std::vector<Mapping>& list) {
    auto* listBox = Control<QListWidget>(page, listBoxId);
    if (!listBox) return 0;
    // Refilling is not a selection by the user.
    const QSignalBlocker quiet(listBox);
    listBox->clear();
    for (size_t i = 0; i < list.size(); ++i) {
        auto* line = new QListWidgetItem(QString::fromStdString(list[i].first) + '\t' +
                                         QString::fromStdString(list[i].second));
        line->setData(Qt::UserRole, static_cast<int>(i));
        listBox->addItem(line);
    }
    return 1;
}

int MappingDialog::UpdateMappingEdit(QWidget* page, int listBoxId, int firstEditId, int secondEditId,
                                     const std::vector<Mapping>& list) {
    auto* listBox = Control<QListWidget>(page, listBoxId);
    auto* first = Control<QLineEdit>(page, firstEditId);
    auto* second = Control<QLineEdit>(page, secondEditId);
    if (!listBox || !first || !second) return 0;
    const QList<QListWidgetItem*> selected = listBox->selectedItems();
    const int index = selected.isEmpty() ? -1 : selected.front()->data(Qt::UserRole).toInt();
    if (index < 0 || static_cast<size_t>(index) >= list.size()) {
        first->clear();
        second->clear();
        return 0;
    }
    first->setText(QString::fromStdString(list[index].first));
    second->setText(QString::fromStdString(list[index].second));
    return 1;
}

int MappingDialog::SelectedIndex() const {
    const QList<QListWidgetItem*> selected = Control<QListWidget>(this, kListBox)->selectedItems();
    if (selected.isEmpty()) return -1;
    const int index = selected.front()->data(Qt::UserRole).toInt();
    return index >= 0 && static_cast<size_t>(index) < list_->size() ? index : -1;
}

void MappingDialog::Selected() {
    const bool any = SelectedIndex() >= 0;
    Control<QPushButton>(this, kReplaceButton)->setEnabled(any);
    Control<QPushButton>(this, kDeleteButton)->setEnabled(any);
    UpdateMappingEdit(this, kListBox, kFirstEdit, kSecondEdit, *list_);
}

void MappingDialog::Add() {
    const QString first = ReadEdit(Control<QLineEdit>(this, kFirstEdit));
    const QString second = ReadEdit(Control<QLineEdit>(this, kSecondEdit));
    if (first.isEmpty() || second.isEmpty()) {
        DesktopMessages::Show(this, "Varevavo", "Fields can not be blank", platform::MB_ICONERROR);
        return;
    }
    list_->emplace_back(first.toStdString(), second.toStdString(), 0);
    Refresh();
}

void MappingDialog::Replace() {
    const int index = SelectedIndex();
    if (index < 0) return;
    (*list_)[index] = Mapping(ReadEdit(Control<QLineEdit>(this, kFirstEdit)).toStdString(),
                              ReadEdit(Control<QLineEdit>(this, kSecondEdit)).toStdString(), 0);
    Refresh();
}

void MappingDialog::Delete() {
    const int index = SelectedIndex();
    if (index < 0) return;
    list_->erase(list_->begin() + index);
    Refresh();
}

void MappingDialog::Refresh() {
    FillMappingListBox(this, kListBox, *list_);
    Control<QPushButton>(this, kReplaceButton)->setEnabled(false);
    Control<QPushButton>(this, kDeleteButton)->setEnabled(false);
    UpdateMappingEdit(this, kListBox, kFirstEdit, kSecondEdit, *list_);
}
