#include "reports/ui/TFInformes.h"

#include "dm/Tdm.h"
#include "reports/Catalog.h"
#include "reports/ui/ReportPreview.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qev::reports {

namespace {

struct Entry {
    const char* name;
    const char* caption;
    bool oficial;
    bool personal;
};
const Entry kEntries[] = {
    {"TrpOficio", "Pedido de informes (carta oficial)", true, false},
    {"TrpFicha", "Ficha dactiloscópica", true, true},
    {"TrpCompr", "Comprobante del trámite", false, true},
    {"TrpContesPriv", "Contestación de pedido personal", false, true},
    {"TrpRechPriv", "Rechazo de huellas digitales", false, true},
};

} // namespace

TFInformes::TFInformes(Tdm& dm, Prompter& prompter, const Clock& clock, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_prompter(prompter), m_clock(clock) {
    setObjectName(QStringLiteral("TFInformes"));
    setWindowTitle(QStringLiteral("Imprimir documentos"));
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("cbTipo"));
    m_kind->addItems({QStringLiteral("Pedido oficial"), QStringLiteral("Pedido personal")});
    m_report = new QComboBox(this);
    m_report->setObjectName(QStringLiteral("cbInforme"));
    m_number = new QSpinBox(this);
    m_number->setObjectName(QStringLiteral("edPedido"));
    m_number->setRange(1, 99999999);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Tipo de pedido:"), m_kind);
    form->addRow(QStringLiteral("Pedido:"), m_number);
    form->addRow(QStringLiteral("Documento:"), m_report);

    auto button = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    QPushButton* preview = button("btVista", "&Vista previa");
    QPushButton* print = button("btImprimir", "&Imprimir");
    QPushButton* pdf = button("btPdf", "Exportar &PDF…");
    QPushButton* close = button("btCerrar", "&Cerrar");
    preview->setDefault(true);
    connect(preview, &QPushButton::clicked, this, &TFInformes::vistaPrevia);
    connect(print, &QPushButton::clicked, this, &TFInformes::imprimir);
    connect(pdf, &QPushButton::clicked, this, &TFInformes::exportar);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &TFInformes::fillReports);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(preview);
    buttons->addWidget(print);
    buttons->addWidget(pdf);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addLayout(buttons);
    fillReports();
}

void TFInformes::fillReports() {
    const bool oficial = m_kind->currentIndex() == 0;
    m_report->clear();
    for (const Entry& e : kEntries) {
        if (oficial ? e.oficial : e.personal)
            m_report->addItem(QString::fromUtf8(e.caption), QString::fromLatin1(e.name));
    }
}

bool TFInformes::prepare(Layout& out) {
    const bool oficial = m_kind->currentIndex() == 0;
    Dataset& requests = oficial ? m_dm.ped() : m_dm.pedp();
    if (requests.editing()) {
        m_prompter.warn(QStringLiteral("Hay un pedido en edición: grábelo o cancélelo antes de imprimir."),
                        QStringLiteral("Advertencia"));
        return false;
    }
    requests.refresh();
    if (!requests.locate(QStringLiteral("C_PED"), dbf::Value(m_number->value()))) {
        m_prompter.error(QStringLiteral("No existe el pedido %1 %2.")
                             .arg(oficial ? QStringLiteral("oficial") : QStringLiteral("personal"))
                             .arg(m_number->value()),
                         QStringLiteral("Error"));
        return false;
    }
    const ReportSource source{m_dm.appDir().folder(), [this](const QString& c) { return m_dm.table(c); },
                              m_clock.today()};
    QStringList warnings;
    QString error;
    if (!buildReport(m_report->currentData().toString(), oficial ? RequestKind::Oficial : RequestKind::Personal, source,
                     out, &warnings, &error)) {
        m_prompter.error(error, QStringLiteral("Error"));
        return false;
    }
    if (!warnings.isEmpty()) m_prompter.warn(warnings.join(QLatin1Char('\r')), QStringLiteral("Advertencia"));
    return true;
}

void TFInformes::vistaPrevia() {
    Layout l;
    if (prepare(l)) previewReport(l, m_prompter, this);
}

void TFInformes::imprimir() {
    Layout l;
    if (prepare(l)) printReport(l, m_prompter, this);
}

void TFInformes::exportar() {
    Layout l;
    if (!prepare(l)) return;
    ReportPreview p({l}, m_prompter, this);
    const QString file = p.chooseFile(QDir::current().filePath(
        m_report->currentData().toString() + QString::number(m_number->value()) + QStringLiteral(".pdf")));
    if (!file.isEmpty()) (void)p.exportPdf(file);
}

} // namespace qev::reports
