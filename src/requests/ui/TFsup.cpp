#include "requests/ui/TFsup.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "requests/ui/RequestWindowRules.h"
#include "util/Prompter.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFsup::TFsup(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFsup"));
    setWindowTitle(QStringLiteral("Supuestos"));
    resize(466, 170);
    setMinimumSize(463, 161);
    Dataset& sup = dm.sup();
    auto* group = new QGroupBox(QStringLiteral("Nombres y Apellidos"), this);
    auto* grid = new QGridLayout(group);
    const auto edit = [&](const char* name, const char* field) {
        auto* e = new DbEdit(sup, QString::fromLatin1(field), group);
        e->setObjectName(QString::fromLatin1(name));
        e->setUpperCase(true);
        return e;
    };
    grid->addWidget(new QLabel(QStringLiteral("Apellidos"), group), 0, 0);
    grid->addWidget(edit("DBEdit3", "X_APE1"), 0, 1);
    grid->addWidget(edit("DBEdit1", "X_APE2"), 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Nombres "), group), 1, 0);
    grid->addWidget(edit("DBEdit4", "X_NOM1"), 1, 1);
    grid->addWidget(edit("DBEdit2", "X_NOM2"), 1, 2);
    grid->addWidget(edit("DBEdit5", "X_NOM3"), 1, 3);

    m_nav = new DbNavigator(sup, prompter, this);
    m_nav->setObjectName(QStringLiteral("DBNavigator1"));
    m_nav->setConfirmDelete(false);
    m_nav->beforeAction = [&dm, &prompter](DbNavigator::Button b) {
        const bool changes = b == DbNavigator::Button::Edit || b == DbNavigator::Button::Insert;
        if (changes && sentAndNotRejected(dm.ped())) {
            prompter.warn(QStringLiteral("No se puede modificar un pedido que ya ha sido enviado. Excepto que este "
                                         "rechazado"));
            return false;
        }
        dm.setSavePermission(b == DbNavigator::Button::Post);
        return true;
    };
    auto* salir = new QPushButton(QStringLiteral("&Salir"), this);
    salir->setObjectName(QStringLiteral("btSalir"));
    connect(salir, &QPushButton::clicked, this, &QDialog::accept);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_nav, 1);
    bottom->addWidget(salir);
    auto* main = new QVBoxLayout(this);
    main->addWidget(group, 1);
    main->addLayout(bottom);
}

} // namespace qev
