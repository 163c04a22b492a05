#pragma once
// "Consulta de Pedidos": searches official requests, personal requests or aliases by request number, by names or by
// document number, and opens the request a result line belongs to (an alias opens its official request).
#include "requests/QueryStatements.h"

#include <QDialog>

#include <functional>

class QButtonGroup;
class QLineEdit;
class QTabWidget;

namespace qev {

class Prompter;
class QueryGrid;
class Tdm;

class TFConsulta : public QDialog {
    Q_OBJECT
public:
    TFConsulta(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Show the request windows modally on the current row of the official (ped) or personal (pedp) request table.
    std::function<void()> showOfficialRequest;
    std::function<void()> showPersonalRequest;

    // "&Buscar" and "&Ver Pedido".
    void buscar();
    void verPedido();

    ConsultaTable chosenTable() const;
    // What the pages hold, as the search reads it.
    ConsultaCriteria criteria() const;
    QueryGrid* grid() const { return m_grid; }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    QTabWidget* m_pages;
    QLineEdit* m_code;
    QLineEdit* m_names[5];
    QLineEdit* m_document;
    QButtonGroup* m_tables;
    QueryGrid* m_grid;
    ConsultaTable m_searched = ConsultaTable::Official; // the table of the result shown
};

} // namespace qev
