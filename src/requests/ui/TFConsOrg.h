#pragma once
// "QEV - Consulta de Organismos": the organisations in a read-only grid; "&Ver Organismo" or a double click shows
// the organisations window, which stands on the organisation chosen since both move the same table.
#include <QDialog>

#include <functional>

namespace qev {

class DbGrid;
class DbNavigator;
class Prompter;
class Tdm;
class TFOrg;

class TFConsOrg : public QDialog {
    Q_OBJECT
public:
    TFConsOrg(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Shows the organisations window, not modal. By default a window of its own, made on first use.
    std::function<void()> showOrganisations;
    void verOrganismo();
    DbGrid* grid() const { return m_grid; }

private:
    DbGrid* m_grid;
    TFOrg* m_org = nullptr;
};

} // namespace qev
