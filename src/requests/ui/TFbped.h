#pragma once
// "Buscar Pedido": moves a request window's table to the first request with a number, a case number or a surname.
#include "requests/QueryStatements.h"

#include <QDialog>
#include <QPointer>

class QLineEdit;
class QRadioButton;

namespace qev {

class Dataset;
class Prompter;
class Tdm;

class TFbped : public QDialog {
    Q_OBJECT
public:
    TFbped(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // The table to search (official or personal requests), set before the window is shown.
    void setTable(Dataset& table);
    void setCriterion(RequestCriterion c);
    RequestCriterion criterion() const { return m_criterion; }
    // "&Buscar": on success the table stands on the request found and the window closes.
    void buscar();

private:
    Prompter& m_prompter;
    QPointer<Dataset> m_table;
    RequestCriterion m_criterion = RequestCriterion::Number;
    QRadioButton* m_options[3];
    QLineEdit* m_edits[3];
};

} // namespace qev
