#pragma once
// "Imprimir documentos": the printed documents of a request chosen by kind and number, in the preview (with PDF
// export) or straight to the printer. Choosing a request moves the data module's row to it, as every window does.
#include <QDialog>

class QComboBox;
class QPushButton;
class QSpinBox;

namespace qev {
class Clock;
class Prompter;
class Tdm;
} // namespace qev

namespace qev::reports {

struct Layout;

class TFInformes : public QDialog {
    Q_OBJECT
public:
    TFInformes(Tdm& dm, Prompter& prompter, const Clock& clock, QWidget* parent = nullptr);

    // Builds the chosen document for the chosen request; false (with the message shown) when it cannot be.
    bool prepare(Layout& out);
    void vistaPrevia();
    void imprimir();
    void exportar();

private:
    void fillReports();

    Tdm& m_dm;
    Prompter& m_prompter;
    const Clock& m_clock;
    QComboBox* m_kind;
    QComboBox* m_report;
    QSpinBox* m_number;
};

} // namespace qev::reports
