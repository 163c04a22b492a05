#include "capture/ui/TTwainForm.h"

#include "capture/ScanSetup.h"
#include "util/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace qev {

TTwainForm::TTwainForm(capture::ScanSetup& setup, Prompter& prompter, QString imageLibIni, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), m_setup(setup), m_prompter(prompter),
      m_ini(std::move(imageLibIni)) {
    setObjectName(QStringLiteral("TTwainForm"));
    setWindowTitle(QStringLiteral("Configurar Scanner"));
    auto* layout = new QVBoxLayout(this);

    auto* toolbar = new QHBoxLayout;
    m_selectBtn = new QToolButton(this);
    m_selectBtn->setObjectName(QStringLiteral("SelectSourceBtn"));
    m_selectBtn->setText(QStringLiteral("Elegir Scanner"));
    m_selectBtn->setToolTip(QStringLiteral("Elegir Scanner"));
    m_exitBtn = new QToolButton(this);
    m_exitBtn->setObjectName(QStringLiteral("ExitBtn"));
    m_exitBtn->setText(QStringLiteral("Salir"));
    m_exitBtn->setToolTip(QStringLiteral("Exit|"));
    toolbar->addWidget(m_selectBtn);
    toolbar->addStretch();
    toolbar->addWidget(m_exitBtn);
    layout->addLayout(toolbar);
    m_source = new QLabel(this);
    m_source->setObjectName(QStringLiteral("lbSource"));
    layout->addWidget(m_source);

    m_settingsBox = new QWidget(this);
    auto* form = new QFormLayout(m_settingsBox);
    form->setContentsMargins(0, 0, 0, 0);
    m_dpi = spin("DPI", 100, 500, 50);
    form->addRow(QStringLiteral("DPI"), m_dpi);
    auto* area = new QGroupBox(QStringLiteral("Scan Area Selection in Inches"), m_settingsBox);
    auto* areaForm = new QFormLayout(area);
    m_izq = spin("edIzq", 0, 500, 1);
    m_der = spin("edDer", 0, 500, 1);
    m_sup = spin("edSup", 0, 500, 1);
    m_inf = spin("edInf", 0, 500, 1);
    areaForm->addRow(QStringLiteral("Izquierda"), m_izq);
    areaForm->addRow(QStringLiteral("Derecha"), m_der);
    areaForm->addRow(QStringLiteral("Superior"), m_sup);
    areaForm->addRow(QStringLiteral("Inferior"), m_inf);
    form->addRow(area);
    m_bright = spin("NBright", -1000, 1000, 1);
    m_cont = spin("NCont", -1000, 1000, 1);
    form->addRow(QStringLiteral("Brillo"), m_bright);
    form->addRow(QStringLiteral("Contraste"), m_cont);
    m_type = new QComboBox(m_settingsBox);
    m_type->setObjectName(QStringLiteral("cbImageType"));
    m_type->addItems(
        {QStringLiteral("BW"), QStringLiteral("GRAY"), QStringLiteral("COLOR8"), QStringLiteral("COLOR24")});
    form->addRow(QStringLiteral("Tipo de imagen"), m_type);
    m_uic = new QComboBox(m_settingsBox);
    m_uic->setObjectName(QStringLiteral("UIC"));
    m_uic->addItems({QStringLiteral("Ninguno"), QStringLiteral("Mostrar Interface de Usuario"),
                     QStringLiteral("Ocultar Interface de Usuario"),
                     QStringLiteral("Usar ADF + Mostrar Interface de Usuario"),
                     QStringLiteral("Usar ADF + Ocultar Interface de Usuario")});
    form->addRow(QStringLiteral("Interface del Scanner"), m_uic);
    m_rot = spin("edRotGrad", 0, 359, 1);
    form->addRow(QStringLiteral("Rotar siempre (grados)"), m_rot);
    m_pages = spin("nPages", 1, 999999, 1);
    form->addRow(QStringLiteral("Páginas"), m_pages);
    m_deskew = new QCheckBox(QStringLiteral("Auto rotación (Deskew)"), m_settingsBox);
    m_deskew->setObjectName(QStringLiteral("CheckBox1"));
    form->addRow(m_deskew);
    layout->addWidget(m_settingsBox);

    auto* caps = new QPushButton(QStringLiteral("Ver Capacidades..."), this);
    caps->setObjectName(QStringLiteral("btTwinCaps"));
    caps->setToolTip(QStringLiteral("View Twain Capabilities of the active twain device"));
    layout->addWidget(caps);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Label11"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    connect(m_selectBtn, &QToolButton::clicked, this, &TTwainForm::selectSource);
    connect(m_exitBtn, &QToolButton::clicked, this, &QDialog::accept);
    connect(caps, &QPushButton::clicked, this, [this] {
        if (openCaps) openCaps();
    });
    m_setup.status = [this](const QString& s) { setStatus(s); };

    m_setup.loadSettings(m_ini);
    loadControls();
}

TTwainForm::~TTwainForm() {
    m_setup.status = nullptr;
    (void)m_setup.saveSettings(m_ini);
}

QSpinBox* TTwainForm::spin(const char* name, int lo, int hi, int step) {
    auto* s = new QSpinBox(this);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(lo, hi);
    s->setSingleStep(step);
    return s;
}

void TTwainForm::loadControls() {
    const capture::ScanSettings& s = m_setup.settings();
    m_dpi->setValue(s.dpi);
    m_izq->setValue(s.izquierda);
    m_der->setValue(s.derecha);
    m_sup->setValue(s.arriba);
    m_inf->setValue(s.abajo);
    m_bright->setValue(s.brillo);
    m_cont->setValue(s.contraste);
    m_type->setCurrentIndex(s.tipoImagen);
    m_uic->setCurrentIndex(s.uiMode);
    m_rot->setValue(s.rotarGrados);
    m_pages->setValue(s.paginas);
    m_deskew->setChecked(s.deskew);
    m_source->setText(QStringLiteral("Scanner: ") +
                      (m_setup.source.isEmpty() ? QStringLiteral("(el primero disponible)") : m_setup.source));
}

void TTwainForm::storeControls() {
    capture::ScanSettings& s = m_setup.settings();
    s.dpi = m_dpi->value();
    s.izquierda = m_izq->value();
    s.derecha = m_der->value();
    s.arriba = m_sup->value();
    s.abajo = m_inf->value();
    s.brillo = m_bright->value();
    s.contraste = m_cont->value();
    s.tipoImagen = m_type->currentIndex();
    s.uiMode = m_uic->currentIndex();
    s.rotarGrados = m_rot->value();
    s.paginas = m_pages->value();
    s.deskew = m_deskew->isChecked();
    s.clamp();
}

void TTwainForm::setBusy(bool busy) {
    m_settingsBox->setEnabled(!busy);
    m_selectBtn->setEnabled(!busy);
    m_exitBtn->setEnabled(!busy);
}

void TTwainForm::selectSource() {
    setBusy(true);
    std::vector<capture::ScanSourceInfo> sources;
    std::string error;
    const bool listed = m_setup.scanner().listSources(sources, &error);
    setBusy(false);
    if (!listed || sources.empty()) {
        m_prompter.error(listed ? QStringLiteral("No hay ningún scanner conectado") : QString::fromStdString(error),
                         QStringLiteral("Configurar Scanner"));
        return;
    }
    QStringList names;
    int current = 0;
    for (const auto& s : sources) {
        if (QString::fromStdString(s.name) == m_setup.source) current = static_cast<int>(names.size());
        names << QString::fromStdString(s.name) + QStringLiteral(" — ") + QString::fromStdString(s.vendor) +
                     QLatin1Char(' ') + QString::fromStdString(s.model);
    }
    bool ok = false;
    const QString chosen = QInputDialog::getItem(this, QStringLiteral("Elegir Scanner"), QStringLiteral("Scanner:"),
                                                 names, current, false, &ok);
    if (!ok) return;
    m_setup.source = QString::fromStdString(sources[static_cast<size_t>(names.indexOf(chosen))].name);
    m_setup.scanner().close();
    loadControls();
}

void TTwainForm::setStatus(const QString& text) {
    m_status->setText(text);
}

void TTwainForm::showEvent(QShowEvent* e) {
    loadControls();
    QDialog::showEvent(e);
}

void TTwainForm::done(int r) {
    storeControls();
    QDialog::done(r);
}

} // namespace qev
