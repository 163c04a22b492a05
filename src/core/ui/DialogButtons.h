#pragma once
// The confirm/cancel pair at the foot of the program's dialogs: the confirm button is the default one.
#include <QDialogButtonBox>
#include <QPushButton>

namespace qev {

struct DialogButtons {
    QDialogButtonBox* box;
    QPushButton* ok;
    QPushButton* cancel;
};

inline DialogButtons confirmCancelButtons(QWidget* parent, const QString& okCaption, const QString& okName,
                                          const QString& cancelName) {
    auto* box = new QDialogButtonBox(parent);
    auto* ok = box->addButton(okCaption, QDialogButtonBox::AcceptRole);
    ok->setObjectName(okName);
    ok->setDefault(true);
    auto* cancel = box->addButton(QStringLiteral("&Cancelar"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(cancelName);
    return {box, ok, cancel};
}

} // namespace qev
