#include "core/ui/TFAdminUsu.h"

#include "core/Users.h"
#include "core/ui/DbControls.h"
#include "dm/Tdm.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFAdminUsu::TFAdminUsu(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFAdminUsu"));
    setWindowTitle(QStringLiteral("Administrar Usuarios"));
    resize(520, 360);
    auto* grid = new DbGrid(dm.usu(),
                            {{QStringLiteral("C_LOGIN"), QStringLiteral("Usuario")},
                             {QStringLiteral("X_USU"), QStringLiteral("Descripción")}},
                            this);
    grid->setObjectName(QStringLiteral("DBGrid1"));
    m_nav = new DbNavigator(dm.usu(), prompter, this);
    m_nav->setVisibleButtons({DbNavigator::Button::First, DbNavigator::Button::Prior, DbNavigator::Button::Next,
                              DbNavigator::Button::Last, DbNavigator::Button::Insert, DbNavigator::Button::Delete,
                              DbNavigator::Button::Edit, DbNavigator::Button::Post, DbNavigator::Button::Cancel});
    auto* clear = new QPushButton(QStringLiteral("Limpiar Clave"), this);
    clear->setObjectName(QStringLiteral("btLimpiar"));
    auto* close = new QPushButton(QStringLiteral("&Salir"), this);
    close->setObjectName(QStringLiteral("btSalir"));
    connect(clear, &QPushButton::clicked, this, &TFAdminUsu::limpiarClave);
    connect(close, &QPushButton::clicked, this, [this] {
        if (m_dm.usu().editing()) m_dm.usu().cancel();
        accept();
    });
    auto* v = new QVBoxLayout(this);
    v->addWidget(grid, 1);
    auto* h = new QHBoxLayout;
    h->addWidget(m_nav);
    h->addStretch();
    h->addWidget(clear);
    h->addWidget(close);
    v->addLayout(h);
}

void TFAdminUsu::limpiarClave() {
    (void)clearPassword(m_dm.usu(), m_prompter);
}

} // namespace qev
