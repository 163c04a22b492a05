#include "core/ui/TFMenu.h"

#include "core/Settings.h"
#include "dm/Tdm.h"
#include "util/Prompter.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QVBoxLayout>

namespace qev {

QString officeTypeSubtitle() {
    return QStringLiteral("Registro de Antecedentes Penales - Oficina Regional");
}

namespace {
// The title picture: a stylised fingerprint drawn at any size.
QPixmap titlePicture(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(size / 2.0, size / 2.0);
    for (int i = 1; i <= 9; ++i) {
        const double r = size * 0.05 * i;
        QPen pen(QColor(30, 60, 120), size / 70.0);
        p.setPen(pen);
        p.drawArc(QRectF(c.x() - r, c.y() - r * 1.25, 2 * r, 2.5 * r), (200 - i * 4) * 16, (140 + i * 8) * 16);
    }
    return pm;
}
} // namespace

TFMenu::TFMenu(Tdm& dm, Prompter& prompter, QWidget* parent) : QMainWindow(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFMenu"));
    setWindowTitle(QStringLiteral("QEV - Regional"));
    setMinimumSize(665, 467);
    setCentralWidget(buildCentral());
    buildMenus();
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    m_dm.automaticReceptionOff = [this] { return m_cbDesRecibir->isChecked(); };
    // FormCreate: the work files of an interrupted edit are removed.
    m_dm.deleteWorkFiles({QStringLiteral("edit.tif"), QStringLiteral("edit.zip")});
    updateEnabling();
}

QWidget* TFMenu::buildCentral() {
    auto* central = new QWidget(this);
    auto* v = new QVBoxLayout(central);
    auto* title = new QLabel(QStringLiteral("QEV"), central);
    title->setObjectName(QStringLiteral("lbTitulo"));
    QFont tf = title->font();
    tf.setPointSize(36);
    tf.setBold(true);
    title->setFont(tf);
    title->setAlignment(Qt::AlignCenter);
    auto* subtitle = new QLabel(officeTypeSubtitle(), central);
    subtitle->setObjectName(QStringLiteral("lbSubtitulo"));
    subtitle->setAlignment(Qt::AlignCenter);
    QFont sf = subtitle->font();
    sf.setPointSize(14);
    subtitle->setFont(sf);
    auto* picture = new QLabel(central);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(titlePicture(200));
    picture->setAlignment(Qt::AlignCenter);
    picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    m_lblBio = new QLabel(central);
    m_lblBio->setObjectName(QStringLiteral("lblBio"));
    m_lblBio->setAlignment(Qt::AlignCenter);
    m_lbReg = new QLabel(QStringLiteral("Regional: "), central);
    m_lbReg->setObjectName(QStringLiteral("lbReg"));
    m_lbReg->setAlignment(Qt::AlignCenter);
    QFont rf = m_lbReg->font();
    rf.setPointSize(12);
    rf.setBold(true);
    m_lbReg->setFont(rf);
    m_version = new QLabel(QStringLiteral("Versión 2.37"), central);
    m_version->setObjectName(QStringLiteral("Version"));
    m_version->setAlignment(Qt::AlignCenter);
    m_cbDesRecibir = new QCheckBox(QStringLiteral(" Deshabilitar Recepción automática de Correo"), central);
    m_cbDesRecibir->setObjectName(QStringLiteral("cbDesRecibir"));
    // Either way, a click stops automatic reception for the rest of the run.
    connect(m_cbDesRecibir, &QCheckBox::clicked, this, [this] { m_dm.timer().stop(); });

    auto* bar = new QHBoxLayout;
    struct B {
        const char* name;
        const char* caption;
        const char* window;
        std::function<void()> action;
    };
    const B buttons[] = {
        {"btPedido", "&Pedidos Oficiales", "TFped", [this] { pedidosOficiales(); }},
        {"Button1", "Pedidos Per&sonales", "TFPedP", [this] { pedidosPersonales(); }},
        {"Button2", "&Búsqueda", "TFConsulta", [this] { open(QStringLiteral("TFConsulta")); }},
        {"btOrg", "&Organismos", "TFOrg", [this] { open(QStringLiteral("TFOrg")); }},
        {"btRecibir", "P&rocesar Correo", "RecepcionCorreo", [this] { recibir(); }},
        {"btEstCent", "&Est.QEV Cent.", "TFEstCent", [this] { open(QStringLiteral("TFEstCent")); }},
        {"btInternet", "&Internet", "TFSelInternet", [this] { internet(); }},
    };
    for (const B& b : buttons) {
        auto* btn = new QPushButton(QString::fromUtf8(b.caption), central);
        btn->setObjectName(QString::fromLatin1(b.name));
        btn->setMinimumHeight(32);
        connect(btn, &QPushButton::clicked, this, b.action);
        bar->addWidget(btn);
        if (*b.window) m_entries[QString::fromLatin1(b.window)] << btn;
    }
    findChild<QPushButton*>(QStringLiteral("btEstCent"))->setToolTip(QStringLiteral("Estado Pedidos en QEV Central"));

    v->addWidget(title);
    v->addWidget(subtitle);
    v->addWidget(picture, 1);
    v->addWidget(m_lblBio);
    v->addWidget(m_lbReg);
    v->addWidget(m_version);
    v->addWidget(m_cbDesRecibir, 0, Qt::AlignCenter);
    v->addLayout(bar);
    return central;
}

void TFMenu::buildMenus() {
    auto add = [this](QMenu* menu, const char* name, const char* caption, const char* window,
                      std::function<void()> action) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, std::move(action));
        if (*window) m_entries[QString::fromLatin1(window)] << a;
        return a;
    };
    QMenu* archivo = menuBar()->addMenu(QStringLiteral("&Archivo"));
    add(archivo, "Pedidos2", "&Pedidos", "TFped", [this] { pedidosOficiales(); });
    add(archivo, "Organismos2", "&Organismos", "TFOrg", [this] { open(QStringLiteral("TFOrg")); });
    archivo->addSeparator();
    add(archivo, "Salir1", "&Salir", "", [this] { close(); });

    QMenu* consulta = menuBar()->addMenu(QStringLiteral("&Consulta"));
    add(consulta, "Busqueda1", "&Búsqueda", "TFConsulta", [this] { open(QStringLiteral("TFConsulta")); });
    add(consulta, "PedidosOficiales1", "&Pedidos oficiales", "TFConsPed",
        [this] { open(QStringLiteral("TFConsPed")); });
    add(consulta, "Pedidospersonalessinenviar1", "Pedidos personales &sin enviar", "PedidosSinEnviar",
        [this] { open(QStringLiteral("PedidosSinEnviar")); });
    add(consulta, "Organismos1", "&Organismos", "TFConsOrg", [this] { open(QStringLiteral("TFConsOrg")); });
    m_informeMensual = add(consulta, "InformeMensual1", "&Informe Mensual", "TFInfMensual",
                           [this] { open(QStringLiteral("TFInfMensual")); });
    add(consulta, "ImprimirDocumentos1", "Imprimir &documentos...", "TFInformes",
        [this] { open(QStringLiteral("TFInformes")); });

    QMenu* util = menuBar()->addMenu(QStringLiteral("&Utilidades"));
    add(util, "RecibirContestaciones1", "&Recibir Contestaciones", "RecepcionCorreo", [this] { recibir(); });
    add(util, "OrdenamientodeArchivos1", "&Ordenamiento de Archivos...", "", [this] { ordenamiento(); });
    add(util, "ReportedeActividad1", "Reporte de Actividad", "TFreporte",
        [this] { open(QStringLiteral("TFreporte")); });
    add(util, "Configuracion", "&Configuración", "TFConfig", [this] { configuracion(); });
    add(util, "miConfigLiveScan", "Configurar &LiveScan", "TFConfigLiveScan", [this] {
        open(QStringLiteral("TFConfigLiveScan"));
        m_dm.setLiveScanFromSettings();
    });

    QMenu* usuario = menuBar()->addMenu(QStringLiteral("U&suario"));
    m_miUsuario = usuario->menuAction();
    m_miUsuario->setObjectName(QStringLiteral("miUsuario"));
    m_miUsuario->setVisible(false);
    add(usuario, "miCambClave", "&Cambiar Clave...", "TCambClave", [this] { open(QStringLiteral("TCambClave")); });
    m_administrarUsu =
        add(usuario, "AdministrarUsu", "&Administrar", "TFAdminUsu", [this] { open(QStringLiteral("TFAdminUsu")); });

    QMenu* envio = menuBar()->addMenu(QStringLiteral("&Envio"));
    envio->menuAction()->setObjectName(QStringLiteral("miEnvio"));
    add(envio, "ConfiguracinCorreoElectrnico1", "C&onfiguración de envío", "TFConfigMail", [this] {
        runGuarded(QStringLiteral("TFConfigMail"),
                   QStringLiteral("Advertencia: Se están recibiendo mensajes. \rVuelva a intentar en unos instantes."));
        const bool outlook = m_dm.settings().onlyIfS(QStringLiteral("usaOutlook"));
        m_mailCheck->setVisible(!outlook);
        m_inbox->setVisible(!outlook);
    });
    add(envio, "miVerConfigHost", "&Ver log / configuración ", "TFVerConfig",
        [this] { open(QStringLiteral("TFVerConfig")); });
    m_mailCheck = add(envio, "Probarconfiguracindecuenta1", "&Probar configuración del Correo Electrónico",
                      "TFMailCheck", [this] {
                          runGuarded(QStringLiteral("TFMailCheck"),
                                     QStringLiteral("Advertencia: Se están recibiendo mensajes. \rVuelva a intentar "
                                                    "en unos instantes."));
                      });
    m_inbox =
        add(envio, "BandejadeEntradadelCorreoElectrnico1", "&Bandeja de Entrada de Correo Electrónico", "TFInboxMail",
            [this] {
                runGuarded(QStringLiteral("TFInboxMail"),
                           QStringLiteral("Advertencia: No se puede abrir la bandeja \rporque se están recibiendo "
                                          "mensajes. \rVuelva a intentar en unos instantes."));
            });

    QMenu* ayuda = menuBar()->addMenu(QStringLiteral("A&yuda"));
    add(ayuda, "Acercade1", "&Acerca de...", "TAboutBox", [this] { open(QStringLiteral("TAboutBox")); });
}

void TFMenu::registerWindow(const QString& name, std::function<void()> openFn) {
    m_windows[name] = std::move(openFn);
    updateEnabling();
}

void TFMenu::updateEnabling() {
    // A control whose window or operation this program does not have yet is disabled and says so.
    const QString notYet = QStringLiteral("No disponible todavía en esta versión");
    for (auto& [window, controls] : m_entries) {
        const bool available = hasWindow(window);
        for (QObject* o : controls) {
            if (!o->property("qevToolTip").isValid()) {
                if (auto* w0 = qobject_cast<QWidget*>(o)) o->setProperty("qevToolTip", w0->toolTip());
                if (auto* a0 = qobject_cast<QAction*>(o)) o->setProperty("qevToolTip", a0->toolTip());
            }
            const QString tip = available ? o->property("qevToolTip").toString() : notYet;
            if (auto* w = qobject_cast<QWidget*>(o)) {
                w->setEnabled(available);
                w->setToolTip(tip);
            } else if (auto* a = qobject_cast<QAction*>(o)) {
                a->setEnabled(available);
                a->setToolTip(tip);
            }
        }
    }
}

void TFMenu::open(const QString& name) {
    auto it = m_windows.find(name);
    if (it != m_windows.end() && it->second) it->second();
}

QString TFMenu::notConfiguredPersonal() const {
    return QStringLiteral("El sistema no está configurado para gestionar pedidos personales\r"
                          "Comuníquese con el ") +
           supportContact();
}

void TFMenu::pedidosOficiales() {
    if (m_dm.settings().read(QStringLiteral("c_reg")) != QStringLiteral("0"))
        open(QStringLiteral("TFped"));
    else
        m_prompter.inform(QStringLiteral("El sistema no está configurado para gestionar pedidos oficiales"));
}

void TFMenu::pedidosPersonales() {
    if (m_dm.settings().read(QStringLiteral("c_regp")) != QStringLiteral("0"))
        open(QStringLiteral("TFPedP"));
    else
        m_prompter.inform(notConfiguredPersonal());
}

void TFMenu::internet() {
    if (m_dm.settings().hasValue(QStringLiteral("c_regp")))
        open(QStringLiteral("TFSelInternet"));
    else
        m_prompter.inform(notConfiguredPersonal());
}

void TFMenu::recibir() {
    if (m_dm.receptionIdle())
        m_dm.runReceptionCycle();
    else
        m_prompter.warn(QStringLiteral("Advertencia: El proceso de recepción esta en curso.."));
}

void TFMenu::runGuarded(const QString& window, const QString& busyMessage) {
    if (!m_dm.receptionIdle()) {
        m_prompter.warn(busyMessage);
        return;
    }
    m_dm.setReceptionIdle(false);
    struct Restore {
        Tdm& dm;
        ~Restore() { dm.setReceptionIdle(true); }
    } restore{m_dm};
    open(window);
}

void TFMenu::configuracion() {
    open(QStringLiteral("TFConfig"));
    refreshOfficeLine();
}

void TFMenu::ordenamiento() {
    if (m_dm.rebuildIndexes()) {
        m_prompter.inform(QStringLiteral("Finalizó el ordenamiento exitosamente"));
        return;
    }
    // A table that could not be taken exclusively has been closed: the program cannot go on with it.
    if (m_dm.terminated() && quitProgram) quitProgram();
}

void TFMenu::refreshOfficeLine() {
    m_lbReg->setText(QStringLiteral("Regional: ") + m_dm.officeName());
}

QString TFMenu::versionText() const {
    return m_version->text().remove(QStringLiteral("Versión")).trimmed();
}

void TFMenu::setStatusText(const QString& text) {
    if (!isVisible()) return;
    statusBar()->showMessage(text);
    statusBar()->repaint();
}

void TFMenu::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (m_shownOnce) return;
    m_shownOnce = true;
    prepareOnShow();
}

void TFMenu::prepareOnShow() {
    Settings& s = m_dm.settings();
    const bool outlook = s.onlyIfS(QStringLiteral("usaOutlook"));
    m_inbox->setVisible(!outlook);
    m_mailCheck->setVisible(!outlook);
    m_dm.setVersionText(versionText());
    const int regp = s.number(QStringLiteral("c_regp"), 0);
    m_informeMensual->setVisible(regp > 0);
    refreshOfficeLine();
    if (vorlundVisible) vorlundVisible(s.onlyIfS(QStringLiteral("m_es_suc")));
    if (m_dm.liveScan() && regp > 0 && identifyOperator) {
        // The finger replaces the password; an operator who was not verified does not use the program.
        const std::optional<BiometricLogin> who = identifyOperator();
        if (!who || who->verifId <= 0) {
            if (quitProgram) quitProgram();
            return;
        }
        m_dm.setLogin(who->user, QString());
        m_dm.setVerifId(QString::number(who->verifId));
        m_loggedIn = true;
        m_lblBio->setText(QStringLiteral("Usuario: ") + m_dm.loggedUser() + QStringLiteral(" - VerifID: ") +
                          m_dm.verifId());
    } else if (m_dm.accessControl() && !m_loggedIn) {
        // Without the biometric window the password log-in guards the program.
        if (askAccess && askAccess()) {
            m_loggedIn = true;
            m_miUsuario->setVisible(true);
        } else {
            if (quitProgram) quitProgram();
            return;
        }
    }
    m_administrarUsu->setVisible(m_dm.loggedUser().toLower() == QStringLiteral("admin"));
}

void TFMenu::closeEvent(QCloseEvent* e) {
    if (!m_closing) {
        m_closing = true;
        m_dm.deleteWorkFiles({QStringLiteral("huella.tif"), QStringLiteral("ped.dat"), QStringLiteral("edit.tif"),
                              QStringLiteral("edit.zip")});
        if (purgeAtClose) purgeAtClose();
    }
    e->accept();
}

} // namespace qev
