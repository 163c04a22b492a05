#include "requests/ui/TFPedP.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "exchange/CentralState.h"
#include "exchange/TSMime.h"
#include "exchange/mail/ValidEmail.h"
#include "reports/Catalog.h"
#include "reports/Institution.h"
#include "reports/ui/ReportPreview.h"
#include "requests/PersonalRequestRules.h"
#include "requests/ui/RequestForm.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

using dbf::Value;
using Button = DbNavigator::Button;

namespace {

const QString kEmailPrompt = QStringLiteral("DIRECCION DE EMAIL");

} // namespace

QString receiptMailText(const QString& cPago, const QString& cSegur) {
    return QStringLiteral(
               "Estimado/a, le informamos que su Solicitud de Trámite se encuentra en proceso de validación. "
               "Una vez aprobada la Solicitud de Trámite, recibirá los datos necesarios para la descarga de "
               "su Certificado de Antecedentes Penales por medio de un correo electrónico a la cuenta "
               "suministrada. Para consultas, sugerencias y reclamos acerca del Comprobante del Trámite de "
               "Antecedentes Penales, acceda a nuestro Sistema de Gestión e Información al Usuario "
               "ingresando a nuestra pagina web ") +
           reports::Institution::webAddress() + QStringLiteral(" o comuníquese al ") +
           reports::Institution::freePhone() + QStringLiteral(". \rCódigo de Solicitud: ") + cPago +
           QStringLiteral("\r") + QStringLiteral("Código de Seguridad: ") + cSegur;
}

TFPedP::TFPedP(Tdm& dm, Prompter& prompter, RequestCaptures::Windows capture, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_prompter(prompter), m_captures(dm, prompter, dm.pedp(), capture) {
    setObjectName(QStringLiteral("TFPedP"));
    setWindowTitle(QStringLiteral("QEV - Pedido Personal de Antecedentes"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    resize(705, 517);
    Dataset& pedp = dm.pedp();
    const RequestForm form(dm, pedp);
    const auto label = [](QWidget* w, const char* text, const char* hint = nullptr) {
        return RequestForm::label(w, text, hint);
    };
    const auto readOnly = [&form](QWidget* w, const char* name, const char* field, const char* hint = nullptr) {
        DbEdit* e = form.edit(w, name, field);
        e->setAlwaysReadOnly(true);
        if (hint) e->setToolTip(QString::fromUtf8(hint));
        return e;
    };

    // The request and its payment.
    auto [grOrg, og] = RequestForm::group(this, "grOrg", "Datos del Pedido");
    og->addWidget(label(grOrg, "Pedido:"), 0, 0);
    og->addWidget(readOnly(grOrg, "c_ped", "C_PED"), 0, 1);
    og->addWidget(label(grOrg, "Nro.Exp.:", "Número de Expediente"), 0, 2);
    og->addWidget(readOnly(grOrg, "n_expe", "N_EXPE", "Número de Expediente"), 0, 3);
    og->addWidget(label(grOrg, "Prior.:", "Prioridad"), 0, 4);
    og->addWidget(readOnly(grOrg, "DBText1", "X_PRIOR", "Prioridad"), 0, 5);
    og->addWidget(label(grOrg, "Fecha:"), 1, 0);
    og->addWidget(readOnly(grOrg, "f_ped", "F_PED"), 1, 1);
    og->addWidget(label(grOrg, "Estado:", "Estado del pedido"), 1, 2);
    og->addWidget(readOnly(grOrg, "x_est", "x_est", "Estado del pedido"), 1, 3, 1, 3);
    og->addWidget(label(grOrg, "Talón de pago:"), 2, 0);
    m_talon = form.edit(grOrg, "dbTalon", "C_PAGO", true);
    og->addWidget(m_talon, 2, 1, 1, 2);
    og->addWidget(label(grOrg, "Fecha de pago:"), 2, 3);
    m_fPago = form.edit(grOrg, "f_pago", "F_PAGO");
    m_fPago->setPlaceholderText(QStringLiteral("dd/mm/aaaa"));
    auto* pagoRow = new QHBoxLayout;
    pagoRow->setSpacing(1);
    pagoRow->addWidget(m_fPago, 1);
    auto* clearPago = new QToolButton(grOrg);
    clearPago->setObjectName(QStringLiteral("SpeedButton8"));
    clearPago->setText(QStringLiteral("✖"));
    clearPago->setToolTip(QStringLiteral("Borrar"));
    clearPago->setFocusPolicy(Qt::NoFocus);
    connect(clearPago, &QToolButton::clicked, this, [this] {
        if (!m_dm.pedp().setValue(QStringLiteral("F_PAGO"), Value()))
            m_prompter.error(m_dm.pedp().lastError(), QStringLiteral("Error"));
    });
    pagoRow->addWidget(clearPago);
    og->addLayout(pagoRow, 2, 4, 1, 2);
    og->addWidget(label(grOrg, "Tipo de Trámite.:"), 3, 0);
    m_tram = form.lookup(grOrg, "dblcbTram", "C_TRAM", "tram", "C_TRAM", "X_TRAM");
    og->addWidget(m_tram, 3, 1, 1, 2);
    m_lbPagoDomic = label(grOrg, "Talón de pago domiciliario:");
    m_lbPagoDomic->setObjectName(QStringLiteral("lbPagoDomic"));
    og->addWidget(m_lbPagoDomic, 3, 3);
    m_pagoDomic = form.edit(grOrg, "dbPagoDomic", "C_PAGO_DOMIC", true);
    og->addWidget(m_pagoDomic, 3, 4, 1, 2);
    og->addWidget(label(grOrg, "Observaciones:"), 4, 0);
    og->addWidget(form.edit(grOrg, "x_obs", "X_OBS", true), 4, 1, 1, 5);
    for (DbEdit* slip : {m_talon, m_pagoDomic})
        slip->installEventFilter(this);

    // The applicant's address.
    auto [grDom, dg] = RequestForm::group(this, "GroupBox1", "Domicilio del Solicitante");
    dg->addWidget(label(grDom, "Calle y Número:"), 0, 0);
    dg->addWidget(form.edit(grDom, "DBEdit1", "X_DOM_S", true), 0, 1);
    dg->addWidget(label(grDom, "Localidad:"), 0, 2);
    dg->addWidget(form.edit(grDom, "DBEdit2", "X_LOC_S", true), 0, 3);
    dg->addWidget(label(grDom, "Provincia:"), 1, 0);
    dg->addWidget(
        RequestForm::withClear(form.lookup(grDom, "DBLookupComboBox2", "C_PROV_S", "prov", "C_PROV", "X_PROV"),
                               "SpeedButton3", grDom),
        1, 1);
    dg->addWidget(label(grDom, "Código Postal:"), 1, 2);
    dg->addWidget(form.edit(grDom, "DBEdit6", "C_CODPOS_S"), 1, 3);

    // The applicant.
    // Named variables, not a structured binding: the row lambda below captures them.
    const auto causante = RequestForm::group(this, "grCaus", "Datos Personales del Solicitante");
    QGroupBox* grCaus = causante.first;
    QGridLayout* cg = causante.second;
    cg->addWidget(label(grCaus, "Apellidos:"), 0, 0);
    cg->addWidget(form.edit(grCaus, "x_ape1", "X_APE1", true), 0, 1);
    cg->addWidget(form.edit(grCaus, "x_ape2", "X_APE2", true), 0, 2);
    cg->addWidget(label(grCaus, "Otros Apellidos:"), 0, 3);
    cg->addWidget(form.edit(grCaus, "X_OAPE", "X_OAPE", true), 0, 4);
    cg->addWidget(label(grCaus, "Nombres:"), 1, 0);
    cg->addWidget(form.edit(grCaus, "x_nom1", "X_NOM1", true), 1, 1);
    cg->addWidget(form.edit(grCaus, "x_nom2", "X_NOM2", true), 1, 2);
    cg->addWidget(form.edit(grCaus, "x_nom3", "X_NOM3", true), 1, 3, 1, 2);
    cg->addWidget(label(grCaus, "Sexo:"), 2, 0);
    cg->addWidget(RequestForm::withClear(form.lookup(grCaus, "c_sexo", "C_SEXO", "sexo", "C_SEXO", "X_SEXO"),
                                         "SpeedButton5", grCaus),
                  2, 1);
    cg->addWidget(label(grCaus, "Nacionalidad:"), 2, 2);
    cg->addWidget(
        RequestForm::withClear(form.lookup(grCaus, "c_nac", "C_NAC", "nac", "C_NAC", "X_NAC"), "SpeedButton4", grCaus),
        2, 3);
    cg->addWidget(label(grCaus, "Fecha de Nacimiento:"), 3, 0);
    DbEdit* fNac = form.edit(grCaus, "f_nac", "F_NAC");
    fNac->setPlaceholderText(QStringLiteral("dd/mm/aaaa"));
    cg->addWidget(fNac, 3, 1);
    auto [grDoc, docg] = RequestForm::group(grCaus, "GroupBox2", "Documento");
    docg->addWidget(label(grDoc, "Doc. Tipo:"), 0, 0);
    docg->addWidget(
        RequestForm::withClear(form.lookup(grDoc, "DBLookupComboBox5", "C_TDOC", "tdoc", "C_TDOC", "X_TDOC"),
                               "SpeedButton6", grDoc),
        0, 1);
    docg->addWidget(label(grDoc, "Prefijo:"), 0, 2);
    docg->addWidget(form.edit(grDoc, "DBEdit5", "C_PREFIJO"), 0, 3);
    docg->addWidget(label(grDoc, "Número:"), 0, 4);
    DbEdit* nDoc = form.edit(grDoc, "DBEdit4", "N_DOC");
    nDoc->setMaxLength(8);
    docg->addWidget(nDoc, 0, 5);
    docg->addWidget(label(grDoc, "Sufijo:"), 0, 6);
    docg->addWidget(form.edit(grDoc, "DBEdit7", "C_SUFIJO"), 0, 7);
    docg->addWidget(label(grDoc, "Expedido por:"), 1, 0);
    docg->addWidget(
        RequestForm::withClear(form.lookup(grDoc, "DBLookupComboBox6", "C_EXPP", "expp", "C_EXPP", "X_EXPP"),
                               "SpeedButton7", grDoc),
        1, 1, 1, 3);
    cg->addWidget(grDoc, 4, 0, 1, 5);
    const auto names = [&](int row, const char* caption, std::initializer_list<std::pair<const char*, const char*>> f) {
        cg->addWidget(label(grCaus, caption), row, 0);
        int column = 1;
        for (const auto& [name, field] : f)
            cg->addWidget(form.edit(grCaus, name, field, true), row, column++);
    };
    names(5,
          "Nombres Padre:", {{"x_nompadr1", "X_NOMPADR1"}, {"x_nompadr2", "X_NOMPADR2"}, {"x_nompadr3", "X_NOMPADR3"}});
    names(6, "Apellidos Madre:", {{"x_apemadr1", "X_APEMADR1"}, {"x_apemadr2", "X_APEMADR2"}});
    names(7,
          "Nombres Madre:", {{"x_nommadr1", "X_NOMMADR1"}, {"x_nommadr2", "X_NOMMADR2"}, {"x_nommadr3", "X_NOMMADR3"}});
    auto* actions = new QHBoxLayout;
    m_excArt51 = form.check(grCaus, "m_exc_art51", "M_EXCART51", "Excepción art. 51");
    actions->addWidget(m_excArt51);
    actions->addStretch();
    const auto button = [this](QWidget* parentWidget, const char* name, const char* caption, void (TFPedP::*action)()) {
        auto* b = new QPushButton(QString::fromUtf8(caption), parentWidget);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    m_btEstVorlund = button(grCaus, "btEstVorlund", "Estado &Vorlund", &TFPedP::estadoVorlund);
    actions->addWidget(m_btEstVorlund);
    actions->addWidget(button(grCaus, "btImpComp", "Com&probante", &TFPedP::comprobante));
    actions->addWidget(button(grCaus, "btRegen", "&Regenerar", &TFPedP::regenerar));
    cg->addLayout(actions, 8, 0, 1, 5);

    // Bottom bar.
    m_nav = new DbNavigator(pedp, prompter, this);
    m_nav->setObjectName(QStringLiteral("nvPed"));
    m_nav->setConfirmDelete(false);
    m_nav->beforeAction = [this](Button b) { return beforeNavigatorAction(static_cast<int>(b)); };
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(3);
    bottom->addWidget(m_nav);
    m_btDig = button(this, "btDig", "&Impresiones Dactilares", &TFPedP::impresionesDactilares);
    bottom->addWidget(m_btDig);
    bottom->addWidget(button(this, "btEnv", "&Enviar", &TFPedP::enviar));
    bottom->addWidget(button(this, "btContes", "&Contestación", &TFPedP::contestacion));
    bottom->addWidget(button(this, "btBus", "&Buscar", &TFPedP::buscar));
    auto* btSalir = new QPushButton(QStringLiteral("&Salir"), this);
    btSalir->setObjectName(QStringLiteral("btSalir"));
    btSalir->setAutoDefault(false);
    connect(btSalir, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(btSalir);
    bottom->addWidget(button(this, "btDoc", "&Documento", &TFPedP::documento));

    m_pmHuella = new QMenu(this);
    m_pmHuella->setObjectName(QStringLiteral("PMenuHuella"));
    m_pmHuella->addAction(QStringLiteral("&Digitalizar Ficha"), this, &TFPedP::digitalizarFicha)
        ->setObjectName(QStringLiteral("DigitalizarFicha1"));
    m_pmHuella->addAction(QStringLiteral("&LiveScan"), this, &TFPedP::liveScan)
        ->setObjectName(QStringLiteral("LiveScan1"));

    auto* main = new QVBoxLayout(this);
    main->setSpacing(4);
    main->addWidget(grOrg);
    main->addWidget(grDom);
    main->addWidget(grCaus, 1);
    main->addLayout(bottom);

    // The slip kind is checked by the record rules only while this window is on screen.
    dm.personalRules().personalWindowVisible = [this] { return isVisible(); };
    dm.centralState().printReceipt = [this] { comprobante(); };
    printReceipt = [this](const reports::Layout& layout) { reports::printReport(layout, m_prompter, this); };
}

TFPedP::~TFPedP() {
    m_dm.personalRules().personalWindowVisible = nullptr;
    m_dm.centralState().printReceipt = nullptr;
}

void TFPedP::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    Settings& s = m_dm.settings();
    const bool branch = s.read(QStringLiteral("m_es_suc")) == QStringLiteral("S");
    m_btEstVorlund->setVisible(branch);
    m_excArt51->setVisible(branch);
    const bool home = s.read(QStringLiteral("m_domic")) == QStringLiteral("S");
    m_lbPagoDomic->setVisible(home);
    m_pagoDomic->setVisible(home);
    if (!e->spontaneous()) RequestCaptures::centre(*this);
}

void TFPedP::done(int r) {
    if (!m_captures.closeUnsaved(
            [this] { return beforeNavigatorAction(static_cast<int>(Button::Post)) && m_dm.pedp().post(); }))
        return; // the window stays
    QDialog::done(r);
}

bool TFPedP::beforeNavigatorAction(int b) {
    const auto button = static_cast<Button>(b);
    Dataset& pedp = m_dm.pedp();
    if (!m_captures.receptionAllows(button == Button::Insert || button == Button::Post)) return false;
    if (button == Button::Insert) m_tram->setEnabled(true);
    if (button == Button::Edit) {
        const QString state = pedp.text(QStringLiteral("C_EST")).trimmed();
        if (state == QStringLiteral("T") || state == QStringLiteral("C") || state == QStringLiteral("D")) {
            // An answered or processed request is edited as a correction.
            if (m_prompter.confirm(QStringLiteral("¿Desea modificar los datos?"), QStringLiteral("Advertencia")) &&
                pedp.edit())
                pedp.setValue(QStringLiteral("C_EST"), Value("D"));
            m_dm.setSavePermission(false);
            return false;
        }
        if (state != QStringLiteral("I") && state != QStringLiteral("R")) {
            m_prompter.warn(QStringLiteral("El pedido debe estar en Trámite, Contestado ó Rechazado"));
            return false;
        }
    }
    m_dm.setSavePermission(button == Button::Post);
    return true;
}

bool TFPedP::saveWithPermission() {
    m_dm.setSavePermission(true);
    return m_dm.pedp().post();
}

bool TFPedP::viewOnly() const {
    const QString state = m_dm.pedp().text(QStringLiteral("C_EST")).trimmed();
    return state == QStringLiteral("T") || state == QStringLiteral("C") || state == QStringLiteral("D");
}

bool TFPedP::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_talon || watched == m_pagoDomic) {
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::MouseButtonRelease:
            m_talon->selectAll();
            break;
        case QEvent::KeyRelease: {
            m_tram->setEnabled(true);
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) talonEnter();
            break;
        }
        case QEvent::FocusOut: {
            // Another window taking the focus is not the operator leaving the field.
            const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
            if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason && !m_movingFocus &&
                !m_talon->text().trimmed().isEmpty())
                talonEnter();
            break;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFPedP::talonEnter() {
    Dataset& pedp = m_dm.pedp();
    // The slip of a row being browsed is not applied again: the window does not start editing by itself.
    if (!pedp.editing()) return;
    const QString code = m_talon->text();
    if (code.trimmed().size() == 11) {
        if (!m_dm.personalRules().AplicarCodigoBoleta(code)) {
            m_talon->selectAll();
            m_talon->setFocus();
            return;
        }
        m_tram->setEnabled(false); // the procedure kind now comes from the slip
    }
    if (pedp.text(QStringLiteral("C_TRAM")).trimmed() != QStringLiteral("6") && pedp.isNull(QStringLiteral("F_PAGO"))) {
        // The slip was just applied: the field losing the focus to the date must not apply it again.
        m_movingFocus = true;
        m_fPago->setFocus();
        m_movingFocus = false;
    }
}

void TFPedP::impresionesDactilares() {
    m_captures.fingerprints(*m_pmHuella, *m_btDig, [this] { digitalizarFicha(); });
}

void TFPedP::digitalizarFicha() {
    if (m_captures.saveIfEditing()) m_captures.card(viewOnly());
}

void TFPedP::liveScan() {
    const auto pause = m_dm.pauseReception();
    if (!m_captures.saveIfEditing()) return;
    if (!m_captures.liveScan(takeLiveScan, viewOnly())) return;
    Dataset& pedp = m_dm.pedp();
    pedp.setText(QStringLiteral("F_CAPTURA"), m_dm.clock().now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
    const std::optional<Identity> who = confirmIdentity ? confirmIdentity() : std::nullopt;
    if (who && who->verifId > 0) {
        pedp.setText(QStringLiteral("C_LOGIN"), who->login);
        pedp.setValue(QStringLiteral("VERIF_ID"), Value(double(who->verifId)));
    } else {
        pedp.setNull(QStringLiteral("VERIF_ID"));
    }
    if (!saveWithPermission()) return;
    if (QFileInfo::exists(m_dm.appDir().existingFile(m_dm.requestFile(pedp, QLatin1Char('z')))))
        m_prompter.inform(
            QStringLiteral("Las impresiones dactilares de la solicitud %1\rhan sido grabadas exitosamente!")
                .arg(m_captures.number("C_PED")));
}

void TFPedP::documento() {
    if (m_captures.saveIfEditing()) m_captures.documents();
}

void TFPedP::enviar() {
    Dataset& pedp = m_dm.pedp();
    if (!m_dm.personalRules().ValidarPedidoPersonal()) return;
    if (m_dm.liveScan() && m_captures.number("VERIF_ID") < 1) {
        const std::optional<Identity> who = confirmIdentity ? confirmIdentity() : std::nullopt;
        if (!who || who->verifId < 1) {
            m_prompter.warn(QStringLiteral("Lo sentimos, no se puede enviar el pedido sin la confirmación biometrica"));
            return;
        }
        if (!pedp.edit()) return;
        pedp.setText(QStringLiteral("C_LOGIN"), who->login);
        pedp.setValue(QStringLiteral("VERIF_ID"), Value(double(who->verifId)));
        if (!saveWithPermission()) return;
    }
    if (pedp.text(QStringLiteral("C_EST")).trimmed() == QStringLiteral("D"))
        (void)m_dm.EnviarCorreccionPersonal();
    else
        (void)m_dm.EnviarPedidoPersonal();
}

void TFPedP::contestacion() {
    Dataset& pedp = m_dm.pedp();
    const QString answer = m_dm.appDir().existingFile(m_dm.requestFile(pedp, QLatin1Char('c')));
    const QString state = pedp.text(QStringLiteral("C_EST")).trimmed();
    if (state == QStringLiteral("R")) {
        if (m_captures.showRejectionReason(false) && QFileInfo::exists(answer)) (void)m_captures.showAnswer(answer);
        return;
    }
    const auto pause = m_dm.pauseReception();
    if (state != QStringLiteral("C")) {
        m_prompter.error(QStringLiteral("El pedido no ha sido contestado o rechazado"), QStringLiteral("Error"));
        return;
    }
    const QString result = pedp.text(QStringLiteral("C_RES")).trimmed();
    if (result.isEmpty() || result == QStringLiteral("N")) {
        m_prompter.inform(QStringLiteral("Verifique si el certificado está disponible en la web"));
    } else if (QFileInfo::exists(answer)) {
        (void)m_captures.showAnswer(answer);
    } else if (pedp.isNull(QStringLiteral("N_CERT"))) {
        m_prompter.inform(QStringLiteral("No existe el archivo con la imagen de la contestación\rni tampoco el número "
                                         "de carta certificada"));
    } else {
        m_prompter.inform(QStringLiteral("Pedido contestado por correo postal, certificada número: ") +
                          pedp.text(QStringLiteral("N_CERT")).trimmed());
    }
}

void TFPedP::comprobante() {
    Dataset& pedp = m_dm.pedp();
    if (pedp.isEmpty() || m_captures.number("C_PED") <= 0) {
        m_prompter.warn(QStringLiteral("Debe grabar los datos para obtener el número de pedido\rantes de imprimir el "
                                       "comprobante"));
        return;
    }
    if (pedp.editing() && !saveWithPermission()) return;
    if (!m_prompter.confirm(QStringLiteral("¿Enviar comprobante por Email?"))) {
        const reports::ReportSource source{m_dm.appDir().folder(), [this](const QString& c) { return m_dm.table(c); },
                                           m_dm.clock().now().date()};
        reports::Layout layout;
        QStringList warnings;
        QString error;
        if (!reports::buildReport(QStringLiteral("TrpCompr"), reports::RequestKind::Personal, source, layout, &warnings,
                                  &error)) {
            m_prompter.error(error);
            return;
        }
        if (!warnings.isEmpty()) m_prompter.warn(warnings.join(QStringLiteral("\r")));
        if (printReceipt) printReceipt(layout);
        return;
    }
    QString address = kEmailPrompt;
    for (;;) {
        if (!m_prompter.input(QStringLiteral("E-mail:"), QStringLiteral("Introduzca la dirección de e-mail"),
                              address)) {
            address = kEmailPrompt; // cancelling leaves the initial text
            break;
        }
        if (address == kEmailPrompt || EsEmailValido(address)) break;
        m_prompter.warn(QStringLiteral("Email Inválido"));
    }
    if (address.trimmed().isEmpty() || address == kEmailPrompt) return;
    const bool sent = m_dm.sender().EnviarMensaje(
        address, QStringLiteral("Comprobante del Trámite de Antecedentes Penales"), m_captures.number("C_PED"),
        m_captures.number("C_REG"), {},
        receiptMailText(pedp.text(QStringLiteral("C_PAGO")).trimmed(), pedp.text(QStringLiteral("C_SEGUR")).trimmed()));
    if (sent)
        m_prompter.inform(QStringLiteral("Email Enviado Exitosamente"));
    else
        m_prompter.error(QStringLiteral("ERROR! No se pudo enviar el email"));
}

void TFPedP::regenerar() {
    m_dm.centralState().ActualizarCodigoSeguridad();
}

void TFPedP::buscar() {
    if (search) search();
}

void TFPedP::estadoVorlund() {
    m_captures.estadoVorlund(QStringLiteral("W"));
}

} // namespace qev
