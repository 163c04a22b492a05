#pragma once
// "QEV - Administración de Organismos": edits the organisations that file official requests. Saving through the
// navigator is what gives the one-shot save permission the organisation rules ask for.
#include <QDialog>

namespace qev {

class DbNavigator;
class Prompter;
class Tdm;

class TFOrg : public QDialog {
    Q_OBJECT
public:
    TFOrg(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);
    DbNavigator* navigator() const { return m_nav; }

private:
    DbNavigator* m_nav;
};

} // namespace qev
