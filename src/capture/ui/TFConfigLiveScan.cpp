#include "capture/ui/TFConfigLiveScan.h"

#include "util/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

namespace {
const QString kNinguno = QStringLiteral("Ninguno");
const QString kPlano = QStringLiteral("Plano");
const QString kNotChosen = QStringLiteral("Elija primero un programa externo que tenga esta parte");
} // namespace

TFConfigLiveScan::TFConfigLiveScan(QString folder, ReadSetting read, WriteSetting write, Prompter& prompter,
                                   QWidget* parent)
    : QDialog(parent), m_folder(std::move(folder)), m_read(std::move(read)), m_write(std::move(write)),
      m_prompter(prompter) {
    setObjectName(QStringLiteral("TFConfigLiveScan"));
    setWindowTitle(QStringLiteral("Configuración de LiveScan"));

    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("cbScannerType"));
    m_type->addItems({kNinguno, kPlano});
    m_program = new QComboBox(this);
    m_program->setObjectName(QStringLiteral("cbLiveScanExterno"));
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("edPathLiveScan"));
    m_path->setMinimumWidth(320);
    auto check = [this](const char* name, const char* caption) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), this);
        c->setObjectName(QString::fromLatin1(name));
        return c;
    };
    m_avance = check("cbAvance", "Avance automático");
    m_calidad = check("chkCtrlCalidad", "Controlar Calidad de Dedos");
    m_flipHor = check("cbFlipHor", "Flip Horizontal");
    m_flipVer = check("cbFlipVer", "Flip Vertical");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("LiveScan:"), m_type);
    form->addRow(QStringLiteral("Path LiveScan:"), m_path);
    form->addRow(QStringLiteral("Programa Externo:"), m_program);

    auto* programButtons = new QHBoxLayout;
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        programButtons->addWidget(b);
        return b;
    };
    m_configurar = button("btConfigurar", "Configurar");
    m_captura = button("btCaptura", "Captura");
    m_liveScan = button("btLiveScan", "LiveScan");
    programButtons->addStretch(1);

    auto* checks = new QVBoxLayout;
    for (QCheckBox* c : {m_avance, m_calidad, m_flipHor, m_flipVer})
        checks->addWidget(c);

    auto* box = new QDialogButtonBox(this);
    auto* aceptar = box->addButton(QStringLiteral("&Aceptar"), QDialogButtonBox::AcceptRole);
    aceptar->setObjectName(QStringLiteral("btAceptar"));
    auto* cancelar = box->addButton(QStringLiteral("&Cancelar"), QDialogButtonBox::RejectRole);
    cancelar->setObjectName(QStringLiteral("btCancelar"));

    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addLayout(programButtons);
    v->addLayout(checks);
    v->addWidget(box);

    connect(m_path, &QLineEdit::editingFinished, this,
            [this] { listPrograms(chosen() ? chosen()->iniFile : QString()); });
    connect(m_program, &QComboBox::currentIndexChanged, this, [this] { updateButtons(); });
    connect(m_configurar, &QPushButton::clicked, this, [this] { configurar(); });
    connect(m_captura, &QPushButton::clicked, this, [this] { probarCaptura(); });
    connect(m_liveScan, &QPushButton::clicked, this, [this] { probarLiveScan(); });
    connect(aceptar, &QPushButton::clicked, this, [this] {
        if (store()) accept();
    });
    connect(cancelar, &QPushButton::clicked, this, [this] {
        load();
        reject();
    });
    load();
}

void TFConfigLiveScan::showEvent(QShowEvent* e) {
    load();
    QDialog::showEvent(e);
}

void TFConfigLiveScan::load() {
    const QString type = m_read(QStringLiteral("LiveScan"));
    m_type->setCurrentIndex(type == kPlano ? 1 : 0);
    m_avance->setChecked(m_read(QStringLiteral("AutoAvance")) == QStringLiteral("S"));
    m_calidad->setChecked(m_read(QStringLiteral("crlt_quality")) == QStringLiteral("S"));
    m_flipHor->setChecked(m_read(QStringLiteral("flip_hor")) == QStringLiteral("S"));
    m_flipVer->setChecked(m_read(QStringLiteral("flip_ver")) == QStringLiteral("S"));
    m_ini = platform::readLiveScanIni(m_folder);
    m_path->setText(m_ini.pathLiveScan);
    listPrograms(m_ini.liveScanIni);
}

void TFConfigLiveScan::listPrograms(const QString& chosenIni) {
    m_programs = platform::listLiveScanPrograms(m_path->text().trimmed());
    const QSignalBlocker block(m_program);
    m_program->clear();
    int current = -1;
    for (size_t i = 0; i < m_programs.size(); ++i) {
        m_program->addItem(m_programs[i].titulo);
        if (m_programs[i].iniFile.compare(chosenIni, Qt::CaseInsensitive) == 0) current = int(i);
    }
    m_program->setCurrentIndex(current);
    updateButtons();
}

const platform::LiveScanProgram* TFConfigLiveScan::chosen() const {
    const int i = m_program->currentIndex();
    return i >= 0 && i < int(m_programs.size()) ? &m_programs[size_t(i)] : nullptr;
}

void TFConfigLiveScan::updateButtons() {
    const platform::LiveScanProgram* p = chosen();
    auto set = [](QPushButton* b, bool on, const QString& tip) {
        b->setEnabled(on);
        b->setToolTip(on ? tip : kNotChosen);
    };
    set(m_configurar, p && !p->exeConfig.isEmpty(), QStringLiteral("Abre la configuración propia del programa"));
    set(m_captura, p && !p->exeCaptura.isEmpty(), QStringLiteral("Prueba la captura de un dedo"));
    set(m_liveScan, p && !p->exeLiveScan.isEmpty(), QStringLiteral("Prueba la captura de los diez dedos"));
}

bool TFConfigLiveScan::store() {
    auto yesNo = [](const QCheckBox* c) { return c->isChecked() ? QStringLiteral("S") : QStringLiteral("N"); };
    const std::pair<QString, QString> values[] = {
        {QStringLiteral("LiveScan"), m_type->currentText()}, {QStringLiteral("AutoAvance"), yesNo(m_avance)},
        {QStringLiteral("crlt_quality"), yesNo(m_calidad)},  {QStringLiteral("flip_hor"), yesNo(m_flipHor)},
        {QStringLiteral("flip_ver"), yesNo(m_flipVer)},
    };
    for (const auto& [key, value] : values) {
        if (!m_write(key, value)) {
            m_prompter.error(QStringLiteral("No se pudo guardar la configuración \"%1\"").arg(key), QString());
            return false;
        }
    }
    platform::LiveScanIni ini = platform::readLiveScanIni(m_folder);
    ini.pathLiveScan = m_path->text().trimmed();
    ini.liveScanIni = chosen() ? chosen()->iniFile : QString();
    QString error;
    if (!platform::writeLiveScanIni(m_folder, ini, &error)) {
        m_prompter.error(error, QString());
        return false;
    }
    return true;
}

void TFConfigLiveScan::report(const platform::ProgramRun& run) {
    if (!run.ok()) m_prompter.error(run.message, QString());
}

void TFConfigLiveScan::configurar() {
    if (const auto* p = chosen())
        report(platform::startProgramDetached(platform::programPath(m_path->text().trimmed(), p->exeConfig), {}));
}

void TFConfigLiveScan::probarCaptura() {
    if (const auto* p = chosen())
        report(platform::runProgramAndWait(platform::programPath(m_path->text().trimmed(), p->exeCaptura),
                                           {QStringLiteral("prueba")},
                                           std::chrono::seconds(m_ini.programTimeoutSeconds)));
}

void TFConfigLiveScan::probarLiveScan() {
    if (const auto* p = chosen())
        report(platform::runProgramAndWait(platform::programPath(m_path->text().trimmed(), p->exeLiveScan),
                                           {QStringLiteral("prueba")},
                                           std::chrono::seconds(m_ini.programTimeoutSeconds)));
}

} // namespace qev
