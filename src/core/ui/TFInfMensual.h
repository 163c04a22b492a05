#pragma once
// "Informe mesual": opens the central office's monthly statement page of this office in the web browser.
#include <QDialog>
#include <QLineEdit>
#include <QUrl>
#include <functional>

namespace qev {

class Tdm;
class Prompter;

class TFInfMensual : public QDialog {
    Q_OBJECT
public:
    TFInfMensual(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);
    // Opens an address in the default browser; replaced in tests.
    std::function<void(const QUrl&)> openUrl;
    // Puts the month before today's into the fields.
    void proposePeriod();
    // "&Aceptar"; false when the window stays open.
    bool aceptar();

protected:
    void showEvent(QShowEvent* e) override;

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    QLineEdit* m_month;
    QLineEdit* m_year;
};

// The monthly statement address for a base address, an office code and a period.
QString monthlyReportUrl(const QString& base, const QString& office, int month, int year);

} // namespace qev
