#pragma once
// "QEV - Consulta de Pedidos": the official requests with their organisation, all of them or by sending state,
// in a grid that can be printed; a request chosen opens in the official request window.
#include "requests/QueryStatements.h"

#include <QDialog>

#include <functional>

namespace qev {

class Prompter;
class QueryGrid;
class SqlQuery;
class Tdm;

class TFConsPed : public QDialog {
    Q_OBJECT
public:
    TFConsPed(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Shows the official request window (not modal) on the official request table's current row.
    std::function<void()> showOfficialRequest;

    // The options of "Mostrar Pedidos:"; choosing one reopens the list.
    void setOption(OfficialListOption option);
    OfficialListOption option() const { return m_option; }
    // Closes and reopens the current list.
    void refresh();
    void verPedido();
    void imprimir();

    const QString& listTitle() const { return m_title; }
    QString printHeader() const;
    SqlQuery& currentList() const;
    QueryGrid* grid() const { return m_grid; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    OfficialListOption m_option = OfficialListOption::All;
    QString m_title = QStringLiteral("Informe de Pedidos");
    QueryGrid* m_grid;
};

} // namespace qev
