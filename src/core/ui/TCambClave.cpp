#include "core/ui/TCambClave.h"
#include "core/ui/DialogButtons.h"

#include "core/Users.h"
#include "core/ui/TPedirClave.h"
#include "dm/Tdm.h"

#include <QFormLayout>
#include <QPushButton>

namespace qev {

TCambClave::TCambClave(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TCambClave"));
    setWindowTitle(QStringLiteral("Cambiar Contraseña"));
    setModal(true);
    m_current = lowerCaseEdit(this, QStringLiteral("edCla"), true);
    m_new = lowerCaseEdit(this, QStringLiteral("edNCla"), true);
    m_confirm = lowerCaseEdit(this, QStringLiteral("edCCla"), true);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Contraseña Actual"), m_current);
    form->addRow(QStringLiteral("Nueva Contraseña"), m_new);
    form->addRow(QStringLiteral("Confirmar Contraseña"), m_confirm);
    const auto [buttons, ok, cancel] = confirmCancelButtons(this, QStringLiteral("C&ambiar"),
                                                            QStringLiteral("btCambiar"), QStringLiteral("btCancelar"));
    form->addRow(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { cambiar(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_current->setFocus();
}

bool TCambClave::cambiar() {
    QString remembered = m_dm.loggedPassword();
    if (!changePassword(m_dm.usu(), m_prompter, m_dm.loggedUser(), remembered, m_current->text(), m_new->text(),
                        m_confirm->text()))
        return false;
    m_dm.setLogin(m_dm.loggedUser(), remembered);
    m_changed = true;
    accept();
    return true;
}

bool TCambClave::changeLoggedPassword(Tdm& dm, Prompter& prompter, QWidget* parent) {
    TCambClave dialog(dm, prompter, parent);
    dialog.exec();
    return dialog.changed();
}

} // namespace qev
