#include "core/ui/TFConfig.h"
#include "core/ui/DialogButtons.h"

#include "core/Settings.h"
#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "util/Prompter.h"

#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace qev {

namespace {
QString flag(bool on) {
    return on ? QStringLiteral("S") : QStringLiteral("N");
}
} // namespace

QLineEdit* TFConfig::edit(const char* name) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    return e;
}

TFConfig::TFConfig(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFConfig"));
    setWindowTitle(QStringLiteral("Configuración de QEV Regional"));
    setModal(true);

    m_cRegp = edit("c_regp");
    m_xReg = edit("x_reg");
    m_cReg = edit("c_reg");
    m_nomi = new QCheckBox(QStringLiteral("QEV Nominativa"), this);
    m_nomi->setObjectName(QStringLiteral("m_QevNomi"));
    m_nomi->setVisible(false);
    m_domic = new QCheckBox(QStringLiteral("QEV Domiciliaria"), this);
    m_domic->setObjectName(QStringLiteral("m_QevDomic"));
    m_chkDatBol = new QCheckBox(QStringLiteral("Chequeo datos con Boleta"), this);
    m_chkDatBol->setObjectName(QStringLiteral("m_ChkBoxDatBol"));
    auto* regional = new QGroupBox(QStringLiteral(" Regional "), this);
    auto* rf = new QFormLayout(regional);
    rf->addRow(QStringLiteral("Cód.Privado:"), m_cRegp);
    rf->addRow(QStringLiteral("Nombre:"), m_xReg);
    rf->addRow(QStringLiteral("Cód.Oficial"), m_cReg);
    rf->addRow(m_nomi);
    rf->addRow(m_domic);
    rf->addRow(m_chkDatBol);

    m_xToregp = edit("x_toregp");
    m_frecRecep = edit("frec_recep");
    m_durGuarda = edit("dur_guarda");
    m_maxContes = edit("max_contes");
    m_urlCert = edit("url_cert");
    m_xToregp->setMinimumWidth(240);
    m_urlCert->setMinimumWidth(240);
    m_impAuto = new QCheckBox(QStringLiteral("Impresión automática"), this);
    m_impAuto->setObjectName(QStringLiteral("m_impauto"));
    auto* mail = new QGroupBox(QStringLiteral(" Correo electrónico y contestaciones "), this);
    auto* mf = new QFormLayout(mail);
    mf->addRow(QStringLiteral("Cuenta de QEV Central:"), m_xToregp);
    mf->addRow(QStringLiteral("Frecuencia de recepción de mensajes (minutos):"), m_frecRecep);
    mf->addRow(QStringLiteral("Cantidad de días que se guardan las contestaciones:"), m_durGuarda);
    mf->addRow(QStringLiteral("Número máximo de contestaciones a procesar: "), m_maxContes);
    mf->addRow(QStringLiteral("URL Certificado:"), m_urlCert);
    mf->addRow(m_impAuto);

    m_proxyUser = edit("proxy_user");
    m_proxyPass = edit("proxy_pass");
    m_proxyPass->setEchoMode(QLineEdit::Password);
    m_proxyPass->setMaxLength(10);
    m_proxyPass->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[a-z0-9]{0,10}")), m_proxyPass));
    connect(m_proxyPass, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (t != t.toLower()) m_proxyPass->setText(t.toLower());
    });
    m_proxyUser->installEventFilter(this);
    m_httpProxy = edit("http_proxy");
    m_httpPort = edit("http_port");
    auto* proxy = new QGroupBox(QStringLiteral("Proxy"), this);
    auto* pf = new QFormLayout(proxy);
    pf->addRow(QStringLiteral("Usuario:"), m_proxyUser);
    pf->addRow(QStringLiteral("Contraseña:"), m_proxyPass);
    pf->addRow(QStringLiteral("Host:"), m_httpProxy);
    pf->addRow(QStringLiteral("Puerto:"), m_httpPort);

    m_fecPago = new QCheckBox(QStringLiteral("Dato obligatorio"), this);
    m_fecPago->setObjectName(QStringLiteral("m_fecpago"));
    m_maxDiasFecpago = edit("max_dias_fecpago");
    auto* pago = new QGroupBox(QStringLiteral("Fecha de pago"), this);
    auto* gf = new QFormLayout(pago);
    gf->addRow(m_fecPago);
    gf->addRow(QStringLiteral("Tiempo de aceptación de pago en días:"), m_maxDiasFecpago);

    auto* web = new QGroupBox(QStringLiteral("Sitio Web"), this);
    auto* wl = new QVBoxLayout(web);
    auto* grid = new DbGrid(
        dm.url(),
        {{QStringLiteral("N_PRIOR"), QStringLiteral("Prioridad")}, {QStringLiteral("X_URL"), QStringLiteral("Url")}},
        web);
    grid->setObjectName(QStringLiteral("gridUrl"));
    auto* nav = new DbNavigator(dm.url(), prompter, web);
    wl->addWidget(grid);
    wl->addWidget(nav);

    const auto [buttons, ok, cancel] =
        confirmCancelButtons(this, QStringLiteral("&Aceptar"), QStringLiteral("btOK"), QStringLiteral("btCancel"));
    connect(ok, &QPushButton::clicked, this, [this] { save(); });
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (m_dm.url().editing()) m_dm.url().cancel();
        reject();
    });

    auto* layout = new QGridLayout(this);
    layout->addWidget(regional, 0, 0);
    layout->addWidget(mail, 0, 1);
    layout->addWidget(proxy, 1, 0);
    layout->addWidget(pago, 1, 1);
    layout->addWidget(web, 2, 0, 1, 2);
    layout->addWidget(buttons, 3, 0, 1, 2);
    layout->setRowStretch(2, 1);
}

void TFConfig::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    load();
}

bool TFConfig::eventFilter(QObject* watched, QEvent* event) {
    // Entering the proxy user clears the password, which is keyed with the user.
    if (watched == m_proxyUser && event->type() == QEvent::FocusIn) m_proxyPass->clear();
    return QDialog::eventFilter(watched, event);
}

void TFConfig::load() {
    Settings& s = m_dm.settings();
    m_cRegp->setText(s.read(QStringLiteral("c_regp")));
    m_xReg->setText(s.read(QStringLiteral("x_reg")));
    m_cReg->setText(s.read(QStringLiteral("c_reg")));
    m_nomi->setChecked(s.onlyIfS(QStringLiteral("m_nomi")));
    m_domic->setChecked(s.onlyIfS(QStringLiteral("m_domic")));
    m_chkDatBol->setChecked(s.unlessN(QStringLiteral("m_chkdatbol")));
    m_xToregp->setText(s.read(QStringLiteral("x_toregp")));
    m_frecRecep->setText(s.read(QStringLiteral("frec_recep")));
    m_durGuarda->setText(s.read(QStringLiteral("dur_guarda")));
    m_maxContes->setText(s.read(QStringLiteral("max_contes")));
    m_urlCert->setText(s.read(QStringLiteral("url_cert")));
    m_impAuto->setChecked(s.unlessN(QStringLiteral("m_impauto")));
    m_proxyUser->setText(s.read(QStringLiteral("proxy_user")));
    m_httpProxy->setText(s.read(QStringLiteral("http_proxy")));
    m_httpPort->setText(s.read(QStringLiteral("http_port")));
    m_fecPago->setChecked(s.onlyIfS(QStringLiteral("m_fecpago")));
    m_maxDiasFecpago->setText(s.read(QStringLiteral("dias_fpago")));
    m_proxyPass->clear();
    const QString stored = s.read(QStringLiteral("proxy_pass"));
    if (!stored.trimmed().isEmpty()) m_proxyPass->setText(decipherProxyPassword(stored, m_proxyUser->text()));
    if (m_proxyPass->text().isEmpty() && !m_proxyUser->text().isEmpty())
        m_prompter.inform(QStringLiteral("Por favor vuelva a poner el usuario y contraseña del proxy."));
}

bool TFConfig::save() {
    const QString user = m_proxyUser->text();
    if (!user.isEmpty() && m_proxyPass->text().isEmpty()) {
        m_prompter.warn(QStringLiteral("Por favor introduzca la contraseña del proxy"));
        m_proxyPass->setFocus();
        m_proxyPass->selectAll();
        return false;
    }
    if (user.size() > 30) {
        m_prompter.warn(QStringLiteral("El usuario del proxy no puede tener más de 30 letras"));
        return false;
    }
    if (m_dm.url().editing() && !m_dm.url().post()) return false;
    Settings& s = m_dm.settings();
    s.write(QStringLiteral("m_fecpago"), flag(m_fecPago->isChecked()));
    s.write(QStringLiteral("dias_fpago"), m_maxDiasFecpago->text());
    s.write(QStringLiteral("x_toregp"), m_xToregp->text());
    s.write(QStringLiteral("x_toreg"), m_xToregp->text());
    s.write(QStringLiteral("x_reg"), m_xReg->text());
    s.write(QStringLiteral("url_cert"), m_urlCert->text());
    s.write(QStringLiteral("frec_recep"), m_frecRecep->text());
    s.write(QStringLiteral("dur_guarda"), m_durGuarda->text());
    s.write(QStringLiteral("c_regp"), m_cRegp->text());
    s.write(QStringLiteral("c_reg"), m_cReg->text());
    s.write(QStringLiteral("max_contes"), m_maxContes->text());
    s.write(QStringLiteral("http_proxy"), m_httpProxy->text());
    s.write(QStringLiteral("http_port"), m_httpPort->text());
    s.write(QStringLiteral("proxy_user"), user);
    s.write(QStringLiteral("proxy_pass"),
            m_proxyPass->text().isEmpty() ? QString() : encipherProxyPassword(m_proxyPass->text(), user));
    if (proxySettingsChanged) proxySettingsChanged();
    s.write(QStringLiteral("m_nomi"), flag(m_nomi->isChecked()));
    s.write(QStringLiteral("m_domic"), flag(m_domic->isChecked()));
    s.write(QStringLiteral("m_chkdatbol"), flag(m_chkDatBol->isChecked()));
    s.write(QStringLiteral("m_impauto"), flag(m_impAuto->isChecked()));
    m_dm.deriveFlags();
    accept();
    return true;
}

} // namespace qev
