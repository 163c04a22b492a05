#include "core/ui/TFInfMensual.h"
#include "core/ui/DialogButtons.h"

#include "dm/Tdm.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QDesktopServices>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace qev {

QString monthlyReportUrl(const QString& base, const QString& office, int month, int year) {
    return base + QStringLiteral("PlanillaInfMensual/Default.aspx?c_regqev=%1&month=%2&year=%3")
                      .arg(office)
                      .arg(month)
                      .arg(year);
}

TFInfMensual::TFInfMensual(Tdm& dm, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFInfMensual"));
    setWindowTitle(QStringLiteral("Informe mesual"));
    openUrl = [](const QUrl& u) { QDesktopServices::openUrl(u); };
    m_month = new QLineEdit(this);
    m_month->setObjectName(QStringLiteral("edn_mes"));
    m_month->setMaxLength(2);
    m_year = new QLineEdit(this);
    m_year->setObjectName(QStringLiteral("edn_anio"));
    m_year->setMaxLength(4);
    auto* form = new QFormLayout(this);
    form->addRow(new QLabel(QStringLiteral("Indique período del informe:"), this));
    form->addRow(QStringLiteral("Mes:"), m_month);
    form->addRow(QStringLiteral("Año:"), m_year);
    const auto [buttons, ok, cancel] =
        confirmCancelButtons(this, QStringLiteral("&Aceptar"), QStringLiteral("btOK"), QStringLiteral("btCancel"));
    form->addRow(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { aceptar(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFInfMensual::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    proposePeriod();
    m_month->setFocus();
}

void TFInfMensual::proposePeriod() {
    const QDate previous = m_dm.clock().today().addMonths(-1);
    m_month->setText(QStringLiteral("%1").arg(previous.month(), 2, 10, QLatin1Char('0')));
    m_year->setText(QString::number(previous.year()));
}

bool TFInfMensual::aceptar() {
    const int month = m_month->text().trimmed().toInt();
    if (month < 1 || month > 12) {
        m_prompter.error(QStringLiteral("ERROR: Número de mes incorrecto"), QStringLiteral("Error"));
        return false;
    }
    const int year = m_year->text().trimmed().toInt();
    if (year < 2000 || year > 2100) {
        m_prompter.error(QStringLiteral("ERROR: Número de año incorrecto"), QStringLiteral("Error"));
        return false;
    }
    Dataset& url = m_dm.url();
    url.refresh();
    QString base;
    for (int i = 0; i < url.rowCount() && base.isEmpty(); ++i)
        base = url.textAt(i, QStringLiteral("X_URL")).trimmed();
    if (base.isEmpty())
        m_prompter.error(QStringLiteral("ERROR: No se pudo obtener el listado mensual. Verifique la configuración de "
                                        "la URL"),
                         QStringLiteral("Error"));
    else if (openUrl)
        openUrl(QUrl(monthlyReportUrl(base, m_dm.settings().read(QStringLiteral("c_regp")), month, year)));
    accept();
    return true;
}

} // namespace qev
