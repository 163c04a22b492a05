#include "requests/ui/TFPeriodo.h"

#include "dm/Tdm.h"
#include "requests/QueryStatements.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace qev {

TFPeriodo::TFPeriodo(Tdm& dm, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_clock(dm.clock()), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFPeriodo"));
    setWindowTitle(QStringLiteral("Período del Informe"));
    setModal(true);
    setFixedSize(272, 167);

    auto dateEdit = [this](const char* name) {
        auto* d = new QDateEdit(this);
        d->setObjectName(QString::fromLatin1(name));
        d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        d->setCalendarPopup(true);
        return d;
    };
    m_desde = dateEdit("fecDes");
    m_hasta = dateEdit("fecHas");
    auto* ok = new QPushButton(QStringLiteral("&Aceptar"), this);
    ok->setObjectName(QStringLiteral("btOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancel->setObjectName(QStringLiteral("btCancel"));
    connect(ok, &QPushButton::clicked, this, &TFPeriodo::aceptar);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel(QStringLiteral("Seleccione el período de estudio del informe:"), this));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Fecha desde:"), m_desde);
    form->addRow(QStringLiteral("Fecha hasta:"), m_hasta);
    v->addLayout(form);
    v->addWidget(new QLabel(QStringLiteral("(Nota: ambas fechas se incluyen en el informe)"), this));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    v->addLayout(buttons);
}

QDate TFPeriodo::desde() const {
    return m_desde->date();
}

QDate TFPeriodo::hasta() const {
    return m_hasta->date();
}

void TFPeriodo::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (e->spontaneous()) return;
    const auto [first, last] = monthOf(m_clock.today());
    m_desde->setDate(first);
    m_hasta->setDate(last);
}

void TFPeriodo::aceptar() {
    if (hasta() >= desde()) {
        accept();
        return;
    }
    m_prompter.inform(QStringLiteral("La fecha desde debe ser menor o igual a la fecha hasta"));
}

} // namespace qev
