#include "requests/ui/TFOrg.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFOrg::TFOrg(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFOrg"));
    setWindowTitle(QStringLiteral("QEV - Administración de Organismos"));
    setMinimumSize(545, 260);
    resize(545, 260);
    Dataset& org = dm.org();

    auto edit = [this, &org](const char* name, const char* field, bool upper) {
        auto* e = new DbEdit(org, QString::fromLatin1(field), this);
        e->setObjectName(QString::fromLatin1(name));
        e->setUpperCase(upper);
        return e;
    };
    DbEdit* cOrg = edit("c_org", "C_ORG", false);
    DbEdit* xOrg = edit("x_org", "X_ORG", true);
    DbEdit* xDom = edit("x_dom", "X_DOM", true);
    DbEdit* xLoc = edit("x_loc", "X_LOC", true);
    auto* cProv = new DbLookupCombo(org, QStringLiteral("C_PROV"), *dm.table(QStringLiteral("prov")),
                                    QStringLiteral("C_PROV"), QStringLiteral("X_PROV"), this);
    cProv->setObjectName(QStringLiteral("c_prov"));
    DbEdit* cCodpos = edit("c_codpos", "C_CODPOS", false);
    DbEdit* xEmail = edit("x_email", "X_EMAIL", false);

    m_nav = new DbNavigator(org, prompter, this);
    m_nav->setObjectName(QStringLiteral("nvOrg"));
    // The organisation rules ask before deleting.
    m_nav->setConfirmDelete(false);
    using B = DbNavigator::Button;
    static const std::pair<B, const char*> hints[] = {
        {B::First, "Primer registro"},
        {B::Prior, "Registro anterior"},
        {B::Next, "Registro siguiente"},
        {B::Last, "Último registro"},
        {B::Insert, "Agregar un registro"},
        {B::Delete, "Eliminar el registro"},
        {B::Edit, "Modificar el registro"},
        {B::Post, "Aceptar"},
        {B::Cancel, "Cancelar"},
        {B::Refresh, "Refrescar"},
    };
    for (const auto& [b, hint] : hints)
        m_nav->setHint(b, QString::fromUtf8(hint));
    m_nav->beforeAction = [&dm](B b) {
        dm.setSavePermission(b == B::Post);
        return true;
    };
    auto* salir = new QPushButton(QStringLiteral("&Salir"), this);
    salir->setObjectName(QStringLiteral("btSalir"));
    connect(salir, &QPushButton::clicked, this, &QDialog::close);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Código:"), cOrg);
    form->addRow(QStringLiteral("Organismo:"), xOrg);
    form->addRow(QStringLiteral("Domicilio:"), xDom);
    form->addRow(QStringLiteral("Localidad:"), xLoc);
    form->addRow(QStringLiteral("Provincia:"), cProv);
    form->addRow(QStringLiteral("Código Postal:"), cCodpos);
    form->addRow(QStringLiteral("E-Mail"), xEmail);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_nav);
    bottom->addStretch();
    bottom->addWidget(salir);
    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addStretch();
    v->addLayout(bottom);

    QWidget* order[] = {cOrg, xOrg, xDom, xLoc, cProv, cCodpos, m_nav, salir, xEmail};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

} // namespace qev
