#pragma once
// "Período del Informe": asks for a date range, both dates included; offers the current month.
#include <QDate>
#include <QDialog>

class QDateEdit;

namespace qev {

class Clock;
class Prompter;
class Tdm;

class TFPeriodo : public QDialog {
    Q_OBJECT
public:
    TFPeriodo(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    QDate desde() const;
    QDate hasta() const;
    // "&Aceptar": closes with OK when "hasta" is not before "desde".
    void aceptar();

protected:
    void showEvent(QShowEvent* e) override;

private:
    const Clock& m_clock;
    Prompter& m_prompter;
    QDateEdit* m_desde;
    QDateEdit* m_hasta;
};

} // namespace qev
