#include "settings/PopUpButtonCell.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QListView>
#include <QStandardItemModel>

#include "common/SettingOptions.h"
#include "settings/TableViewComboBoxDelegate.h"

namespace hvb {

namespace {
constexpr int kHiddenResolutionItem = 2;
}

PopUpButtonCell::PopUpButtonCell(QWidget* parent) : QWidget(parent) {
    setObjectName("popUpButtonCell");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    popUpButton = new QComboBox(this);
    popUpButton->setEditable(false);
    popUpButton->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(popUpButton, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch(1);
    // activated: every user choice, a repeated one too, and never a programmatic change.
    connect(popUpButton, &QComboBox::activated, this, [this](int) { didChange(); });
}

double PopUpButtonCell::popUpButtonWidth() const { return popUpButton ? popUpButton->width() : 0; }

void PopUpButtonCell::setPopUpButtonWidth(double width) {
    if (popUpButton) popUpButton->setFixedWidth(static_cast<int>(width));
}

void PopUpButtonCell::loadItems() {
    if (!popUpButton) return;
    const QSignalBlocker blocker(popUpButton);
    popUpButton->clear();
    if (items) {
        popUpButton->addItems(*items);
        if (*items == SettingOptions::resolutionFpsOptions480()) {
            // Hidden from the list and disabled, so that the keyboard and the wheel skip it too.
            if (auto* list = qobject_cast<QListView*>(popUpButton->view())) list->setRowHidden(kHiddenResolutionItem, true);
            if (auto* model = qobject_cast<QStandardItemModel*>(popUpButton->model()))
                if (auto* item = model->item(kHiddenResolutionItem)) item->setEnabled(false);
        }
        popUpButton->setCurrentIndex(selectedIndex >= 0 && selectedIndex < popUpButton->count() ? selectedIndex : -1);
    }
    popUpButton->setObjectName(popUpButtonIdentifier.value_or(QString()));
    if (popUpButtonEnable) popUpButton->setEnabled(*popUpButtonEnable);
}

void PopUpButtonCell::didChange() {
    if (!popUpButton) return;
    const int index = popUpButton->currentIndex();
    const QString title = index >= 0 ? popUpButton->itemText(index) : QString();
    if (!delegate) return;
    delegate->applySetting(index, popUpButton->objectName(), title);
}

}  // namespace hvb
