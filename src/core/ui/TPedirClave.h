#pragma once
// "Control de Acceso": user name and password at start; three wrong attempts refuse access.
#include "core/Users.h"
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

namespace qev {

class Tdm;
class Prompter;

class TPedirClave : public QDialog {
    Q_OBJECT
public:
    TPedirClave(Tdm& dm, Prompter& prompter, const QString& systemName, QWidget* parent = nullptr);
    // "&Aceptar": checks the pair; closes when granted or refused for good.
    void aceptar();
    bool granted() const { return m_granted; }

    // Shows the dialog modally; on success the log-in is kept by the data module.
    static bool askForAccess(Tdm& dm, Prompter& prompter, const QString& systemName, QWidget* parent = nullptr);

private:
    Tdm& m_dm;
    LoginCheck m_check;
    QLineEdit* m_user;
    QLineEdit* m_password;
    bool m_granted = false;
};

// A line edit that forces lower case and, for passwords, letters and digits only.
QLineEdit* lowerCaseEdit(QWidget* parent, const QString& name, bool password);

} // namespace qev
