#pragma once
// "Administrar Usuarios": the users table with a navigator, and clearing a user's password.
#include <QDialog>

namespace qev {

class Tdm;
class Prompter;
class DbNavigator;

class TFAdminUsu : public QDialog {
    Q_OBJECT
public:
    TFAdminUsu(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);
    void limpiarClave();
    DbNavigator* navigator() const { return m_nav; }

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    DbNavigator* m_nav;
};

} // namespace qev
