#include "settings/ButtonCell.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "platform/dispatch/Dispatch.h"
#include "settings/TableViewButtonDelegate.h"

namespace hvb {

ButtonCell::ButtonCell(QWidget* parent) : QWidget(parent) {
    setObjectName("buttonCell");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    btnSyncTime = new QPushButton(this);
    btnSyncTime->setEnabled(false);
    layout->addWidget(btnSyncTime, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch(1);
    connect(btnSyncTime, &QPushButton::clicked, this, [this] { BtnSyncTime_Click(); });
}

double ButtonCell::buttonWidth() const { return btnSyncTime ? btnSyncTime->width() : 0; }

void ButtonCell::setButtonWidth(double width) {
    if (btnSyncTime) btnSyncTime->setFixedWidth(static_cast<int>(width));
}

void ButtonCell::apply() {
    if (!btnSyncTime) return;
    btnSyncTime->setText(btnTitle);
    btnSyncTime->setEnabled(buttonEnabled);
}

void ButtonCell::BtnSyncTime_Click() {
    if (!delegate) return;
    TableViewButtonDelegate* target = delegate;
    QObject* object = dynamic_cast<QObject*>(target);
    QPointer<QObject> alive(object);
    dispatch::mainQueue().async([target, object, alive] {
        if (object && !alive) return;
        target->openSyncTimeWindow();
    });
}

}  // namespace hvb
