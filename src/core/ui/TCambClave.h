#pragma once
// "Cambiar Contraseña": the logged-in user changes his password.
#include <QDialog>
#include <QLineEdit>

namespace qev {

class Tdm;
class Prompter;

class TCambClave : public QDialog {
    Q_OBJECT
public:
    TCambClave(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);
    bool cambiar();
    bool changed() const { return m_changed; }
    static bool changeLoggedPassword(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    QLineEdit *m_current, *m_new, *m_confirm;
    bool m_changed = false;
};

} // namespace qev
