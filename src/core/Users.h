#pragma once
// Log-in, password change and password clearing over the users table `usu`. Passwords are stored scrambled;
// a user without one logs in with his own name.
#include <QString>
#include <functional>

namespace qev {

class Dataset;
class Prompter;

// The access dialog's checks: three wrong attempts refuse access for good.
class LoginCheck {
public:
    enum class Outcome { Granted, TryAgain, Refused };

    LoginCheck(Dataset& usu, Prompter& prompter) : m_usu(usu), m_prompter(prompter) {}
    std::function<void()> beep;

    void reset() { m_failures = 0; }
    Outcome attempt(const QString& user, const QString& password);
    int failures() const { return m_failures; }
    const QString& user() const { return m_user; }
    const QString& password() const { return m_password; }

private:
    Dataset& m_usu;
    Prompter& m_prompter;
    int m_failures = 0;
    QString m_user;
    QString m_password;
};

// Whether `typed` is the password of a user whose stored password is `stored` (null: none set).
bool passwordMatches(const QString& user, const QString* stored, const QString& typed);
QString scrambledPassword(const QString& plain);
QString plainPassword(const QString& scrambled);

// The change dialog's checks; on success stores the new password scrambled and updates `rememberedPassword`.
bool changePassword(Dataset& usu, Prompter& prompter, const QString& loggedUser, QString& rememberedPassword,
                    const QString& current, const QString& newPassword, const QString& confirmation);

// "Limpiar Clave": after confirmation clears the current user's password.
bool clearPassword(Dataset& usu, Prompter& prompter);

} // namespace qev
