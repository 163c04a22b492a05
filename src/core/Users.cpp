#include "core/Users.h"

#include "core/Clave.h"
#include "core/Dataset.h"
#include "core/Settings.h"
#include "util/Prompter.h"

namespace qev {

using dbf::Value;

QString scrambledPassword(const QString& plain) {
    return fromAnsiBytes(scrambleClave(ansiBytes(plain)));
}

QString plainPassword(const QString& scrambled) {
    return fromAnsiBytes(unscrambleClave(ansiBytes(scrambled)));
}

bool passwordMatches(const QString& user, const QString* stored, const QString& typed) {
    if (!stored) return typed == user;
    if (typed == plainPassword(*stored)) return true;
    // The table drops trailing blanks and NULs of a text field, so a scrambled password that happened to end in
    // one is compared in its stored form.
    QByteArray s = scrambleClave(ansiBytes(typed));
    while (!s.isEmpty() && (s.back() == ' ' || s.back() == '\0'))
        s.chop(1);
    return !typed.isEmpty() && s == ansiBytes(*stored);
}

LoginCheck::Outcome LoginCheck::attempt(const QString& user, const QString& password) {
    m_user = user;
    m_password.clear();
    bool granted = false;
    QString expected;
    m_usu.refresh();
    if (!user.isEmpty() && m_usu.locate(QStringLiteral("C_LOGIN"), Value(user.toStdString()))) {
        const Value clave = m_usu.value(QStringLiteral("C_CLAVE"));
        const QString stored = toQString(clave);
        granted = passwordMatches(user, clave.isNull() ? nullptr : &stored, password);
        expected = clave.isNull() ? user : plainPassword(stored);
    }
    if (granted) {
        if (password == user || password.isEmpty() || expected.isEmpty())
            m_prompter.inform(QStringLiteral("Para mayor seguridad, conviene que cambie su contraseña"),
                              QStringLiteral("Consejo"));
        m_password = password;
        return Outcome::Granted;
    }
    ++m_failures;
    if (m_failures >= 3) {
        if (beep) beep();
        m_prompter.warn(QStringLiteral("Intento de ingreso no autorizado"), QStringLiteral("Advertencia"));
        return Outcome::Refused;
    }
    m_prompter.warn(QStringLiteral("Usuario y/o contraseña incorrecta"), QStringLiteral("Advertencia"));
    return Outcome::TryAgain;
}

bool changePassword(Dataset& usu, Prompter& prompter, const QString& loggedUser, QString& rememberedPassword,
                    const QString& current, const QString& newPassword, const QString& confirmation) {
    const QString caption = QStringLiteral("Error");
    if (current != rememberedPassword) {
        prompter.error(QStringLiteral("La contraseña actual es incorrecta"), caption);
        return false;
    }
    if (newPassword == current) {
        prompter.error(QStringLiteral("La contraseña actual y la nueva son iguales"), caption);
        return false;
    }
    if (newPassword.isEmpty()) {
        prompter.error(QStringLiteral("La contraseña no puede ser vacía"), caption);
        return false;
    }
    if (confirmation != newPassword) {
        prompter.error(QStringLiteral("Las nuevas contraseñas no coinciden"), caption);
        return false;
    }
    if (usu.text(QStringLiteral("C_LOGIN")).toLower() != loggedUser.toLower() &&
        !usu.locate(QStringLiteral("C_LOGIN"), Value(loggedUser.toStdString()))) {
        prompter.error(QStringLiteral("Error: usuario no encontrado"), caption);
        return false;
    }
    if (!usu.edit() || !usu.setValue(QStringLiteral("C_CLAVE"), Value(scrambledPassword(newPassword).toStdString())) ||
        !usu.post()) {
        usu.cancel();
        return false;
    }
    rememberedPassword = newPassword;
    prompter.inform(QStringLiteral("Se cambió la contraseña exitosamente"), QStringLiteral("Información"));
    return true;
}

bool clearPassword(Dataset& usu, Prompter& prompter) {
    if (usu.isEmpty()) return false;
    if (!prompter.confirm(QStringLiteral("¿Está seguro que desea limpiar\rla contraseña de este usuario?"),
                          QStringLiteral("Confirmar")))
        return false;
    if (!usu.edit() || !usu.setValue(QStringLiteral("C_CLAVE"), Value()) || !usu.post()) {
        usu.cancel();
        return false;
    }
    return true;
}

} // namespace qev
