#include "core/ui/TPedirClave.h"
#include "core/ui/DialogButtons.h"

#include "core/Dataset.h"
#include "dm/Tdm.h"

#include <QApplication>
#include <QFormLayout>
#include <QPushButton>
#include <QRegularExpression>

namespace qev {

QLineEdit* lowerCaseEdit(QWidget* parent, const QString& name, bool password) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(10);
    if (password) e->setEchoMode(QLineEdit::Password);
    QObject::connect(e, &QLineEdit::textEdited, e, [e, password](const QString& t) {
        QString clean = t.toLower();
        if (password) clean.remove(QRegularExpression(QStringLiteral("[^a-z0-9ñ]")));
        if (clean != t) {
            const int pos = e->cursorPosition();
            e->setText(clean);
            e->setCursorPosition(std::min(pos, static_cast<int>(clean.size())));
        }
    });
    return e;
}

TPedirClave::TPedirClave(Tdm& dm, Prompter& prompter, const QString& systemName, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_check(dm.usu(), prompter) {
    setObjectName(QStringLiteral("TPedirClave"));
    setWindowTitle(QStringLiteral("Control de Acceso"));
    setModal(true);
    m_check.beep = [] { QApplication::beep(); };
    m_user = lowerCaseEdit(this, QStringLiteral("edUsu"), false);
    m_password = lowerCaseEdit(this, QStringLiteral("edCla"), true);
    auto* sys = new QLabel(systemName, this);
    sys->setObjectName(QStringLiteral("lbSis"));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Sistema"), sys);
    form->addRow(QStringLiteral("Usuario"), m_user);
    form->addRow(QStringLiteral("Contraseña"), m_password);
    const auto [buttons, ok, cancel] = confirmCancelButtons(this, QStringLiteral("&Aceptar"),
                                                            QStringLiteral("btAceptar"), QStringLiteral("btCancelar"));
    form->addRow(buttons);
    connect(ok, &QPushButton::clicked, this, &TPedirClave::aceptar);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_check.reset();
    m_user->setFocus();
}

void TPedirClave::aceptar() {
    m_granted = false;
    switch (m_check.attempt(m_user->text(), m_password->text())) {
    case LoginCheck::Outcome::Granted:
        m_granted = true;
        m_dm.setLogin(m_check.user(), m_check.password());
        accept();
        break;
    case LoginCheck::Outcome::Refused:
        reject();
        break;
    case LoginCheck::Outcome::TryAgain:
        m_password->clear();
        m_password->setFocus();
        break;
    }
}

bool TPedirClave::askForAccess(Tdm& dm, Prompter& prompter, const QString& systemName, QWidget* parent) {
    TPedirClave dialog(dm, prompter, systemName, parent);
    dialog.exec();
    return dialog.granted();
}

} // namespace qev
