#include "requests/ui/TFped.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "exchange/ReplyHandlers.h"
#include "reports/Catalog.h"
#include "reports/ui/ReportPreview.h"
#include "requests/OfficialRequestRules.h"
#include "requests/ui/RequestForm.h"
#include "requests/ui/RequestWindowRules.h"
#include "requests/ui/TFBusqDel.h"
#include "requests/ui/TFsup.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

using dbf::Value;
using Button = DbNavigator::Button;

namespace {

// Clicking the offence description opens the offence selection, as its button does.
class ClickFilter : public QObject {
public:
    ClickFilter(QObject* parent, std::function<void()> onClick) : QObject(parent), m_onClick(std::move(onClick)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) m_onClick();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

} // namespace

TFped::TFped(Tdm& dm, Prompter& prompter, CaptureWindows capture, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_prompter(prompter), m_captures(dm, prompter, dm.ped(), capture) {
    setObjectName(QStringLiteral("TFped"));
    setWindowTitle(QStringLiteral("QEV - Pedido Oficial de Antecedentes"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    resize(700, 491);
    Dataset& ped = dm.ped();
    m_sup = new TFsup(dm, prompter, this);
    m_busqDel = new TFBusqDel(dm, prompter, this);

    const RequestForm form(dm, ped);
    const auto edit = [&form](QWidget* w, const char* name, const char* field, bool upper) {
        return form.edit(w, name, field, upper);
    };
    const auto lookup = [&form](QWidget* w, const char* name, const char* field, const char* table, const char* key,
                                const char* text) { return form.lookup(w, name, field, table, key, text); };
    const auto label = [](QWidget* w, const char* text) { return RequestForm::label(w, text); };
    const auto withClear = &RequestForm::withClear;

    // Header line.
    auto* header = new QHBoxLayout;
    header->addWidget(label(this, "Código de Pedido:"));
    auto* cPed = new QLabel(this);
    cPed->setObjectName(QStringLiteral("c_ped"));
    QFont bold = cPed->font();
    bold.setBold(true);
    cPed->setFont(bold);
    cPed->setMinimumWidth(60);
    header->addWidget(cPed);
    auto* enviado = new DbCheckBox(ped, QStringLiteral("M_ENVIADO"), QStringLiteral("Enviado"), this);
    enviado->setObjectName(QStringLiteral("m_enviado"));
    enviado->setReadOnlyBox(true);
    header->addWidget(enviado);
    auto* contestado = new DbCheckBox(ped, QStringLiteral("M_CONTESTA"), QStringLiteral("Contestado"), this);
    contestado->setObjectName(QStringLiteral("m_contestado"));
    contestado->setReadOnlyBox(true);
    header->addWidget(contestado);
    header->addStretch();
    header->addWidget(label(this, "Fecha:"));
    auto* fPed = edit(this, "f_ped", "F_PED", false);
    fPed->setAlwaysReadOnly(true);
    fPed->setMaximumWidth(90);
    header->addWidget(fPed);
    header->addWidget(label(this, "Estado:"));
    auto* estado = lookup(this, "DBLookupComboBox3", "C_EST", "est", "C_EST", "X_EST");
    estado->setEnabled(false);
    header->addWidget(estado, 1);

    // The organisation that asks.
    auto [grOrg, og] = RequestForm::group(this, "grOrg", "Organismo Requirente");
    m_org = lookup(grOrg, "c_org", "C_ORG", "org", "C_ORG", "X_ORG");
    connect(m_org, &QComboBox::activated, this, &TFped::elegirOrganismo);
    og->addWidget(label(grOrg, "Fuero, Competencia y Nro:"), 0, 0);
    og->addWidget(m_org, 0, 1, 1, 5);
    og->addWidget(label(grOrg, "Secretaria:"), 1, 0);
    og->addWidget(edit(grOrg, "x_sec", "X_SEC", true), 1, 1, 1, 5);
    og->addWidget(label(grOrg, "Calle y Nro:"), 2, 0);
    og->addWidget(edit(grOrg, "x_dom", "X_DOM", false), 2, 1, 1, 2);
    og->addWidget(label(grOrg, "Localidad:"), 2, 3);
    og->addWidget(edit(grOrg, "x_loc", "X_LOC", true), 2, 4, 1, 2);
    og->addWidget(label(grOrg, "Provincia:"), 3, 0);
    og->addWidget(withClear(lookup(grOrg, "c_prov", "C_PROV", "prov", "C_PROV", "X_PROV"), "SpeedButton6", grOrg), 3, 1,
                  1, 2);
    og->addWidget(label(grOrg, "Código Postal:"), 3, 3);
    og->addWidget(edit(grOrg, "c_codpos", "C_CODPOS", false), 3, 4, 1, 2);
    og->addWidget(label(grOrg, "Delito:"), 4, 0);
    m_tdel = edit(grOrg, "c_tdel", "C_TDEL", false);
    m_tdel->setMaximumWidth(70);
    connect(m_tdel, &QLineEdit::editingFinished, this, &TFped::dejarCodigoDelito);
    auto* delitoRow = new QHBoxLayout;
    delitoRow->addWidget(m_tdel);
    auto* xTdel = new QLineEdit(grOrg);
    xTdel->setObjectName(QStringLiteral("x_tdel"));
    xTdel->setReadOnly(true);
    xTdel->setFocusPolicy(Qt::NoFocus);
    xTdel->installEventFilter(new ClickFilter(xTdel, [this] { elegirDelito(); }));
    delitoRow->addWidget(xTdel, 1);
    m_btDelito = new QPushButton(QStringLiteral("..."), grOrg);
    m_btDelito->setObjectName(QStringLiteral("btDelito"));
    m_btDelito->setToolTip(QStringLiteral("Selección del delito"));
    m_btDelito->setMaximumWidth(28);
    m_btDelito->setEnabled(false);
    connect(m_btDelito, &QPushButton::clicked, this, &TFped::elegirDelito);
    delitoRow->addWidget(m_btDelito);
    og->addLayout(delitoRow, 4, 1, 1, 5);
    og->addWidget(label(grOrg, "Observ.:"), 5, 0);
    og->addWidget(edit(grOrg, "x_delito", "X_DELITO", true), 5, 1, 1, 5);
    og->addWidget(label(grOrg, "E-Mail:"), 6, 0);
    og->addWidget(edit(grOrg, "x_email", "X_EMAIL", false), 6, 1, 1, 2);
    og->addWidget(label(grOrg, "Causa Nro:"), 6, 3);
    og->addWidget(edit(grOrg, "n_causa", "N_CAUSA", false), 6, 4, 1, 2);
    og->addWidget(label(grOrg, "Prioridad:"), 7, 0);
    og->addWidget(
        withClear(lookup(grOrg, "DBLookupComboBox1", "C_PRIOR", "prior", "C_PRIOR", "X_PRIOR"), "SpeedButton1", grOrg),
        7, 1, 1, 2);
    m_carpedLabel = label(grOrg, "Carácter:");
    m_carpedLabel->setObjectName(QStringLiteral("Label29"));
    og->addWidget(m_carpedLabel, 7, 3);
    m_carped = lookup(grOrg, "DBLookupComboBox2", "C_CARPED", "carped", "C_CARPED", "X_CARPED");
    og->addWidget(m_carped, 7, 4, 1, 2);
    const auto refreshOffence = [this, xTdel, cPed] {
        Dataset& p = m_dm.ped();
        const Value code = p.value(QStringLiteral("C_TDEL"));
        xTdel->setText(code.isNull()
                           ? QString()
                           : toQString(m_dm.table(QStringLiteral("tdel"))
                                           ->lookupValue(QStringLiteral("C_TDEL"), code, QStringLiteral("X_TDEL")))
                                 .trimmed());
        cPed->setText(p.text(QStringLiteral("C_PED")).trimmed());
    };

    // The person the report is about.
    auto [grCaus, cg] = RequestForm::group(this, "grCaus", "Datos del Causante");
    cg->addWidget(label(grCaus, "Apellidos:"), 0, 0);
    cg->addWidget(edit(grCaus, "x_ape1", "X_APE1", true), 0, 1, 1, 2);
    cg->addWidget(edit(grCaus, "x_ape2", "X_APE2", true), 0, 3, 1, 2);
    cg->addWidget(label(grCaus, "Otros Apellidos:"), 0, 5);
    cg->addWidget(edit(grCaus, "X_OAPE", "X_OAPE", true), 0, 6, 1, 2);
    cg->addWidget(label(grCaus, "Nombres:"), 1, 0);
    cg->addWidget(edit(grCaus, "x_nom1", "X_NOM1", true), 1, 1, 1, 2);
    cg->addWidget(edit(grCaus, "x_nom2", "X_NOM2", true), 1, 3, 1, 2);
    cg->addWidget(edit(grCaus, "x_nom3", "X_NOM3", true), 1, 5, 1, 3);
    cg->addWidget(label(grCaus, "Sexo:"), 2, 0);
    cg->addWidget(withClear(lookup(grCaus, "c_sexo", "C_SEXO", "sexo", "C_SEXO", "X_SEXO"), "SpeedButton4", grCaus), 2,
                  1, 1, 2);
    auto* nacLabel = label(grCaus, "Nac.:");
    nacLabel->setToolTip(QStringLiteral("Nacionalidad:"));
    cg->addWidget(nacLabel, 2, 3);
    auto* nac = lookup(grCaus, "c_nac", "C_NAC", "nac", "C_NAC", "X_NAC");
    nac->setToolTip(QStringLiteral("Nacionalidad:"));
    cg->addWidget(withClear(nac, "SpeedButton3", grCaus), 2, 4, 1, 2);
    cg->addWidget(label(grCaus, "Fecha de Nacimiento:"), 3, 0);
    auto* fNac = edit(grCaus, "f_nac", "F_NAC", false);
    fNac->setPlaceholderText(QStringLiteral("dd/mm/aaaa"));
    cg->addWidget(fNac, 3, 1, 1, 2);
    cg->addWidget(label(grCaus, "Edad presunta:"), 3, 3);
    cg->addWidget(edit(grCaus, "n_edad", "N_EDAD", false), 3, 4);
    auto* tdocLabel = label(grCaus, "Tipo Doc.:");
    tdocLabel->setToolTip(QStringLiteral("Tipo de Documento:"));
    cg->addWidget(tdocLabel, 4, 0);
    auto* tdoc = lookup(grCaus, "c_tdoc", "C_TDOC", "tdoc", "C_TDOC", "X_TDOC");
    tdoc->setToolTip(QStringLiteral("Tipo de Documento:"));
    cg->addWidget(withClear(tdoc, "SpeedButton5", grCaus), 4, 1, 1, 2);
    cg->addWidget(label(grCaus, "Prefijo:"), 4, 3);
    cg->addWidget(edit(grCaus, "c_prefijo", "C_PREFIJO", false), 4, 4);
    cg->addWidget(label(grCaus, "Número:"), 4, 5);
    auto* nDoc = edit(grCaus, "n_doc", "N_DOC", false);
    nDoc->setMaxLength(8);
    cg->addWidget(nDoc, 4, 6);
    cg->addWidget(label(grCaus, "Sufijo:"), 4, 7);
    cg->addWidget(edit(grCaus, "c_sufijo", "C_SUFIJO", false), 4, 8);
    cg->addWidget(label(grCaus, "Exped. por:"), 5, 0);
    cg->addWidget(withClear(lookup(grCaus, "c_provci", "C_PROVCI", "prov", "C_PROV", "X_PROV"), "SpeedButton2", grCaus),
                  5, 1, 1, 2);
    cg->addWidget(label(grCaus, "Nombres Padre:"), 6, 0);
    cg->addWidget(edit(grCaus, "x_nompadr1", "X_NOMPADR1", true), 6, 1, 1, 2);
    cg->addWidget(edit(grCaus, "x_nompadr2", "X_NOMPADR2", true), 6, 3, 1, 2);
    cg->addWidget(edit(grCaus, "x_nompadr3", "X_NOMPADR3", true), 6, 5, 1, 2);
    cg->addWidget(label(grCaus, "Apellidos Madre:"), 7, 0);
    cg->addWidget(edit(grCaus, "x_apemadr1", "X_APEMADR1", true), 7, 1, 1, 2);
    cg->addWidget(edit(grCaus, "x_apemadr2", "X_APEMADR2", true), 7, 3, 1, 2);
    cg->addWidget(label(grCaus, "Nombres Madre:"), 8, 0);
    cg->addWidget(edit(grCaus, "x_nommadr1", "X_NOMMADR1", true), 8, 1, 1, 2);
    cg->addWidget(edit(grCaus, "x_nommadr2", "X_NOMMADR2", true), 8, 3, 1, 2);
    cg->addWidget(edit(grCaus, "x_nommadr3", "X_NOMMADR3", true), 8, 5, 1, 2);
    auto* checks = new QHBoxLayout;
    m_excArt51 = new DbCheckBox(ped, QStringLiteral("M_EXCART51"), QStringLiteral("Excep.Art.51"), grCaus);
    m_excArt51->setObjectName(QStringLiteral("m_exc_art51"));
    m_excArt51->setToolTip(QStringLiteral("Excepción Art. 51"));
    checks->addWidget(m_excArt51);
    auto* especial = new DbCheckBox(ped, QStringLiteral("M_ESPECIAL"), QStringLiteral("Especial"), grCaus);
    especial->setObjectName(QStringLiteral("m_especial"));
    checks->addWidget(especial);
    auto* tomaKrb = new DbCheckBox(ped, QStringLiteral("M_TOMA_KRB"), QStringLiteral("Fich.tomada en Brast."), grCaus);
    tomaKrb->setObjectName(QStringLiteral("m_toma_krb"));
    tomaKrb->setToolTip(QStringLiteral("Ficha tomada en Brastovia"));
    checks->addWidget(tomaKrb);
    auto* menor = new DbCheckBox(ped, QStringLiteral("M_MENOR"), QStringLiteral("Menor de 16"), grCaus);
    menor->setObjectName(QStringLiteral("m_menor"));
    checks->addWidget(menor);
    checks->addStretch();
    m_btEstVorlund = new QPushButton(QStringLiteral("Estado &Vorlund"), grCaus);
    m_btEstVorlund->setObjectName(QStringLiteral("btEstVorlund"));
    connect(m_btEstVorlund, &QPushButton::clicked, this, &TFped::estadoVorlund);
    checks->addWidget(m_btEstVorlund);
    checks->addWidget(label(grCaus, "Expediente:"));
    auto* expte = new QLabel(grCaus);
    expte->setObjectName(QStringLiteral("PanelExpte"));
    expte->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    expte->setFrameShape(QFrame::Panel);
    expte->setFrameShadow(QFrame::Sunken);
    expte->setMinimumWidth(80);
    checks->addWidget(expte);
    cg->addLayout(checks, 9, 0, 1, 9);

    // Bottom bar.
    m_nav = new DbNavigator(ped, prompter, this);
    m_nav->setObjectName(QStringLiteral("nvPed"));
    m_nav->setConfirmDelete(false);
    m_nav->beforeAction = [this](Button b) { return beforeNavigatorAction(static_cast<int>(b)); };
    const auto button = [this](const char* name, const char* caption, void (TFped::*action)()) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(3);
    bottom->addWidget(m_nav);
    m_btDig = button("btDig", "&Imp.Dactilares", &TFped::impDactilares);
    m_btDig->setToolTip(QStringLiteral("Impresiones Dactilares"));
    auto* btEnv = button("btEnv", "&Enviar", &TFped::enviar);
    auto* btContes = button("btContes", "&Contestación", &TFped::contestacion);
    auto* btSup = button("Supuestos", "Supuestos", &TFped::supuestos);
    auto* btBuscar = button("btBuscar", "&Buscar", &TFped::buscar);
    auto* btOficio = button("btOficio", "&Oficio", &TFped::oficio);
    auto* btSalir = new QPushButton(QStringLiteral("&Salir"), this);
    btSalir->setObjectName(QStringLiteral("btSalir"));
    btSalir->setAutoDefault(false);
    connect(btSalir, &QPushButton::clicked, this, &QDialog::reject);
    auto* btDocumento = button("btDocumento", "Documentación", &TFped::documentacion);
    for (QPushButton* b : {m_btDig, btDocumento, btEnv, btContes, btSup, btBuscar, btOficio, btSalir})
        bottom->addWidget(b);
    setTabOrder(m_nav, m_btDig);
    setTabOrder(m_btDig, btEnv);
    setTabOrder(btEnv, btContes);
    setTabOrder(btContes, btSup);
    setTabOrder(btSup, btBuscar);
    setTabOrder(btBuscar, btOficio);
    setTabOrder(btOficio, btSalir);
    setTabOrder(btSalir, btDocumento);

    m_pmHuella = new QMenu(this);
    m_pmHuella->setObjectName(QStringLiteral("PMenuHuella"));
    QAction* dig = m_pmHuella->addAction(QStringLiteral("&Digitalizar Ficha"), this, &TFped::digitalizarFicha);
    dig->setObjectName(QStringLiteral("DigitalizarFicha1"));
    QAction* live = m_pmHuella->addAction(QStringLiteral("&LiveScan"), this, &TFped::liveScan);
    live->setObjectName(QStringLiteral("LiveScan1"));

    auto* main = new QVBoxLayout(this);
    main->setSpacing(4);
    main->addLayout(header);
    main->addWidget(grOrg);
    main->addWidget(grCaus, 1);
    main->addLayout(bottom);

    // The offence button follows the request's state, as the record rules report it.
    dm.officialRules().offenceButtonEnabled = [this](bool on) { m_btDelito->setEnabled(on); };
    m_btDelito->setEnabled(ped.editing());
    const auto refreshRow = [this, refreshOffence, expte] {
        refreshOffence();
        const Value n = m_dm.ped().value(QStringLiteral("N_EXPE"));
        expte->setText(n.isNull() ? QString() : m_dm.ped().text(QStringLiteral("N_EXPE")).trimmed());
    };
    connect(&ped, &Dataset::dataChanged, this, refreshRow);
    connect(&ped, &Dataset::stateChanged, this, refreshRow);
    refreshRow();
    previewLetter = [this](const reports::Layout& layout) { reports::previewReport(layout, m_prompter, this); };
}

TFped::~TFped() {
    m_dm.officialRules().offenceButtonEnabled = nullptr;
}

void TFped::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    m_carped->setVisible(m_dm.nominative());
    m_carpedLabel->setVisible(m_dm.nominative());
    m_excArt51->setVisible(m_dm.settings().read(QStringLiteral("m_es_suc")) == QStringLiteral("S"));
    if (!e->spontaneous()) RequestCaptures::centre(*this);
}

void TFped::done(int r) {
    if (!m_captures.closeUnsaved(
            [this] { return beforeNavigatorAction(static_cast<int>(Button::Post)) && m_dm.ped().post(); }))
        return; // the window stays
    QDialog::done(r);
}

void TFped::setVorlundVisible(bool on) {
    m_btEstVorlund->setVisible(on);
}

bool TFped::beforeNavigatorAction(int b) {
    const auto button = static_cast<Button>(b);
    if (!m_captures.receptionAllows(button == Button::Insert || button == Button::Post)) return false;
    if (button == Button::Edit && sentAndNotRejected(m_dm.ped())) {
        m_prompter.warn(QStringLiteral("No se puede modificar un pedido que ya ha sido enviado"));
        return false;
    }
    m_dm.setSavePermission(button == Button::Post);
    return true;
}

void TFped::impDactilares() {
    m_captures.fingerprints(*m_pmHuella, *m_btDig, [this] { digitalizarFicha(); });
}

void TFped::digitalizarFicha() {
    if (!m_captures.saveIfEditing()) return;
    Dataset& ped = m_dm.ped();
    if (ped.text(QStringLiteral("C_CARPED")).trimmed() == QStringLiteral("N")) {
        m_prompter.inform(QStringLiteral("Ud. a ingresado un pedido con carácter Nominativo (sin ficha),\rOmita el "
                                         "ingreso de la huella dactiloscópica y envíe directamente el pedido"));
        return;
    }
    m_captures.card(sentAndNotRejected(ped));
}

void TFped::liveScan() {
    if (!m_captures.saveIfEditing()) return;
    const QString state = m_dm.ped().text(QStringLiteral("C_EST")).trimmed();
    (void)m_captures.liveScan(takeLiveScan, state == QStringLiteral("T") || state == QStringLiteral("C") ||
                                                state == QStringLiteral("D"));
}

void TFped::documentacion() {
    if (m_captures.saveIfEditing()) m_captures.documents();
}

void TFped::enviar() {
    (void)m_dm.EnviarPedidoOficial();
}

void TFped::contestacion() {
    Dataset& ped = m_dm.ped();
    if (ped.text(QStringLiteral("C_EST")).trimmed() == QStringLiteral("R")) {
        (void)m_captures.showRejectionReason(true);
        return;
    }
    if (!m_dm.replies().ContestacionDisponibleOficial()) return;
    const Value blob = ped.value(QStringLiteral("B_RESP"));
    const QByteArray bytes = blob.isBytes() ? QByteArray(reinterpret_cast<const char*>(blob.bytes().data.data()),
                                                         static_cast<qsizetype>(blob.bytes().data.size()))
                                            : QByteArray();
    (void)m_captures.showAnswer(m_dm.appDir().existingFile(m_dm.requestFile(ped, QLatin1Char('c'))), bytes);
}

void TFped::supuestos() {
    m_sup->exec();
}

void TFped::buscar() {
    if (search) search();
}

void TFped::oficio() {
    Dataset& ped = m_dm.ped();
    if (ped.isNull(QStringLiteral("X_APE1"))) {
        m_prompter.warn(QStringLiteral("Debe ingresar todos los datos antes de visualizar el oficio"));
        return;
    }
    const reports::ReportSource source{m_dm.appDir().folder(), [this](const QString& c) { return m_dm.table(c); },
                                       m_dm.clock().now().date()};
    reports::Layout layout;
    QString error;
    if (!reports::buildReport(QStringLiteral("TrpOficio"), reports::RequestKind::Oficial, source, layout, nullptr,
                              &error)) {
        m_prompter.error(error);
        return;
    }
    if (previewLetter) previewLetter(layout);
}

void TFped::estadoVorlund() {
    m_captures.estadoVorlund(QStringLiteral("U"));
}

void TFped::elegirDelito() {
    if (!m_dm.ped().editing()) {
        m_prompter.warn(QStringLiteral("Antes de seleccionar el delito, debe cambiar al modo edición"));
        return;
    }
    m_busqDel->exec();
}

void TFped::elegirOrganismo() {
    Dataset& ped = m_dm.ped();
    if (!ped.editing()) return;
    const Value org = ped.value(QStringLiteral("C_ORG"));
    if (org.isNull()) return;
    // The organisation chosen becomes the current one of the organisation table, as its list shows it.
    Dataset& orgs = m_dm.org();
    if (orgs.locate(QStringLiteral("C_ORG"), org))
        ped.setValue(QStringLiteral("X_EMAIL"), orgs.value(QStringLiteral("X_EMAIL")));
}

void TFped::dejarCodigoDelito() {
    Dataset& ped = m_dm.ped();
    if (!ped.editing()) return;
    const Value code = ped.value(QStringLiteral("C_TDEL"));
    if (code.isNull()) return;
    Dataset& tdel = *m_dm.table(QStringLiteral("tdel"));
    if (tdel.lookupValue(QStringLiteral("C_TDEL"), code, QStringLiteral("C_TDEL")).isNull())
        ped.setNull(QStringLiteral("C_TDEL"));
}

} // namespace qev
