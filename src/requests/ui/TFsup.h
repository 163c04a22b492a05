#pragma once
// "Supuestos": the other names under which the person of the current official request may appear, one alias row
// each, edited with their own navigator. A sent request's aliases are changed only while it is rejected.
#include <QDialog>

namespace qev {

class DbNavigator;
class Prompter;
class Tdm;

class TFsup : public QDialog {
    Q_OBJECT
public:
    TFsup(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);
    DbNavigator* navigator() const { return m_nav; }

private:
    DbNavigator* m_nav;
};

} // namespace qev
