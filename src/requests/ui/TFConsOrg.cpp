#include "requests/ui/TFConsOrg.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "requests/ui/TFOrg.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFConsOrg::TFConsOrg(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFConsOrg"));
    setWindowTitle(QStringLiteral("QEV - Consulta de Organismos"));
    resize(640, 380);
    Dataset& org = dm.org();
    m_grid = new DbGrid(org,
                        {{QStringLiteral("C_ORG"), QStringLiteral("Código")},
                         {QStringLiteral("X_ORG"), QStringLiteral("Organismo")},
                         {QStringLiteral("X_DOM"), QStringLiteral("Domicilio")},
                         {QStringLiteral("X_LOC"), QStringLiteral("Localidad")},
                         {QStringLiteral("C_CODPOS"), QStringLiteral("CP")},
                         {QStringLiteral("x_prov"), QStringLiteral("Provincia")},
                         {QStringLiteral("C_PROV"), QStringLiteral("C_PROV")},
                         {QStringLiteral("X_EMAIL"), QStringLiteral("X_EMAIL")}},
                        this);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setColumnHidden(6, true);

    using B = DbNavigator::Button;
    auto* nav = new DbNavigator(org, prompter, this);
    nav->setObjectName(QStringLiteral("DBNavigator1"));
    nav->setVisibleButtons({B::First, B::Prior, B::Next, B::Last, B::Refresh});
    nav->setHint(B::First, QStringLiteral("Primer registro"));
    nav->setHint(B::Prior, QStringLiteral("Registro anterior"));
    nav->setHint(B::Next, QStringLiteral("Registro siguiente"));
    nav->setHint(B::Last, QStringLiteral("Último registro"));
    nav->setHint(B::Refresh, QStringLiteral("Refrescar"));

    auto* ver = new QPushButton(QStringLiteral("&Ver Organismo"), this);
    ver->setObjectName(QStringLiteral("btVer"));
    auto* salir = new QPushButton(QStringLiteral("&Salir"), this);
    salir->setObjectName(QStringLiteral("btSalir"));
    connect(ver, &QPushButton::clicked, this, &TFConsOrg::verOrganismo);
    connect(m_grid, &QAbstractItemView::doubleClicked, this, &TFConsOrg::verOrganismo);
    connect(salir, &QPushButton::clicked, this, &QDialog::close);

    showOrganisations = [this, &dm, &prompter] {
        if (!m_org) m_org = new TFOrg(dm, prompter, this);
        m_org->show();
        m_org->raise();
    };

    auto* v = new QVBoxLayout(this);
    v->addWidget(m_grid, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(nav);
    bottom->addStretch();
    bottom->addWidget(ver);
    bottom->addWidget(salir);
    v->addLayout(bottom);
}

void TFConsOrg::verOrganismo() {
    if (showOrganisations) showOrganisations();
}

} // namespace qev
