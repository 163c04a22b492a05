#include "exchange/CentralState.h"

#include "core/Dataset.h"
#include "core/Settings.h"
#include "exchange/ReplyHandlers.h"
#include "exchange/TSMime.h"
#include "exchange/soap/SoapSettings.h"
#include "util/Clock.h"
#include "util/Prompter.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

namespace qev {

namespace {

constexpr qint64 kMaxPage = qint64(16) << 20;

int settingNumber(const Settings& s, const char* key) {
    int n = 0;
    return parseWholeNumber(s.read(QString::fromLatin1(key)), n) ? n : 0;
}

// The line of a name=value answer whose name is `name`.
QString namedLine(const QStringList& lines, const QString& name) {
    for (const QString& l : lines) {
        const qsizetype eq = l.indexOf(QLatin1Char('='));
        if (eq > 0 && l.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0) return l.trimmed();
    }
    return QString();
}

} // namespace

CentralState::CentralState(ReplyHost& host, ReplyHandlers& handlers, ReceptionViews& views)
    : m_host(host), m_handlers(handlers), m_views(&views), m_net(std::make_unique<QNetworkAccessManager>()) {}

CentralState::~CentralState() = default;

bool CentralState::ConfigurarProxy() {
    auto proxy = proxyFromSettings(m_host.settings());
    if (!proxy) return false;
    QNetworkProxy p(QNetworkProxy::NoProxy);
    if (proxy->enabled()) {
        p = QNetworkProxy(QNetworkProxy::HttpProxy, proxy->host, proxy->port, proxy->user, proxy->password);
    }
    m_net->setProxy(p);
    m_soap.setProxy(*proxy);
    if (!proxy->user.isEmpty() && proxy->password.isEmpty())
        m_host.prompter().warn(QStringLiteral("Por favor vuelva a poner el usuario y contraseña del proxy.\n\rPara "
                                              "esto vaya a Utilidades | Configuración | Proxy"));
    return true;
}

bool CentralState::get(const QUrl& url, QByteArray& body, QString& error) {
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        error = QStringLiteral("la dirección \"%1\" no es válida").arg(url.toString());
        return false;
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Mozilla/3.0 (compatible)"));
    request.setRawHeader("Accept", "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(m_timeoutMs);
    std::unique_ptr<QNetworkReply> reply(m_net->get(request));
    QEventLoop loop;
    bool tooLarge = false;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        if (received > kMaxPage && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    });
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (tooLarge) {
        error = QStringLiteral("la respuesta de %1 supera los %2 bytes").arg(url.toString()).arg(kMaxPage);
        return false;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError && status == 0) {
        error = reply->errorString();
        return false;
    }
    if (status >= 400) {
        error = QStringLiteral("HTTP %1 %2 (%3)")
                    .arg(status)
                    .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(), url.toString());
        return false;
    }
    body = reply->readAll();
    return true;
}

bool CentralState::ObtenerUrl(const QString& path, QByteArray& body, QString& error) {
    error.clear();
    body.clear();
    Dataset* url = m_host.table(QStringLiteral("url"));
    if (!url || (!url->active() && !url->open())) {
        error = QStringLiteral("ERROR: No se pudo abrir la tabla url.dbf");
        return false;
    }
    for (int row = 0; row < url->rowCount(); ++row) {
        const QString base = url->textAt(row, QStringLiteral("X_URL")).trimmed();
        QByteArray page;
        QString why;
        if (!get(QUrl(base + path), page, why)) {
            error = QStringLiteral("No hay respuesta en la dirección especificada:\r") + why;
            continue;
        }
        if (!page.isEmpty()) {
            body = page;
            error.clear();
            return true;
        }
    }
    return false;
}

void CentralState::ConsultarEstadoWeb() {
    if (receptionIdle && !receptionIdle()) {
        m_host.prompter().warn(
            QStringLiteral("Advertencia: Se están recibiendo mensajes. \rVuelva a intentar en unos instantes."));
        return;
    }
    if (setReceptionIdle) setReceptionIdle(false);
    struct Restore {
        std::function<void(bool)>& set;
        ~Restore() {
            if (set) set(true);
        }
    } restore{setReceptionIdle};
    BusyScope busy(m_host.prompter());
    m_views->clearStates();
    const Settings& s = m_host.settings();
    bool lastOk = false;
    struct List {
        const char* key;
        const char* page;
        bool official;
        const char* working;
        const char* failedStatus;
        const char* failedText;
    };
    const List lists[] = {
        {"c_reg", "GetEstReg.asp?reg=", true,
         "Obteniendo el estado de los pedidos oficiales vía Web, por favor espere...",
         "Error al obtener el estado de los pedidos oficiales vía Web...",
         "Error al obtener el estado de los pedidos oficiales vía Web: "},
        {"c_regp", "GetEstRegp.asp?reg=", false,
         "Obteniendo el estado de los pedidos personales vía Web, por favor espere...",
         "Error al obtener el estado de los pedidos personales vía Web...",
         "Error al obtener el estado de los pedidos personales vía Web: "},
    };
    for (const List& l : lists) {
        const int regional = settingNumber(s, l.key);
        if (regional == 0) continue;
        m_views->stateStatus(QString::fromUtf8(l.working));
        QByteArray body;
        QString error;
        if (ObtenerUrl(QString::fromLatin1(l.page) + QString::number(regional), body, error)) {
            const QStringList lines = DividirLineas(body);
            if (l.official)
                m_handlers.MostrarEstadosOficiales(lines);
            else
                m_handlers.MostrarEstadosPersonales(lines);
            lastOk = true;
        } else {
            lastOk = false;
            m_views->stateStatus(QString::fromUtf8(l.failedStatus));
            m_views->stateLine(QString::fromUtf8(l.failedText));
            m_views->stateLine(QStringLiteral("Mensaje: ") + error);
        }
    }
    if (lastOk) m_views->stateStatus(QStringLiteral("Listo"));
}

void CentralState::ConsultarResultadosWeb() {
    BusyScope busy(m_host.prompter());
    m_views->clearStates();
    const int regional = settingNumber(m_host.settings(), "c_regp");
    if (regional == 0) return;
    m_views->stateStatus(
        QStringLiteral("Obteniendo el resultado de los pedidos personales vía Web, por favor espere..."));
    QByteArray body;
    QString error;
    if (ObtenerUrl(QStringLiteral("GetEstResP.asp?reg=") + QString::number(regional), body, error)) {
        m_handlers.MostrarResultadosPersonales(DividirLineas(body));
        m_views->stateStatus(QStringLiteral("Listo"));
    } else {
        m_views->stateStatus(QStringLiteral("Error al obtener el resultado de los pedidos personales vía Web..."));
        m_views->stateLine(QStringLiteral("Error al obtener el resultado de los pedidos personales vía Web:"));
        m_views->stateLine(QStringLiteral("Mensaje: ") + error);
    }
}

void CentralState::PedirEstadoMail() {
    const Settings& s = m_host.settings();
    const int reg = settingNumber(s, "c_reg");
    const int regp = settingNumber(s, "c_regp");
    const QString name = QStringLiteral("GetEstado.DAT");
    const QString file = m_host.appDir().file(name);
    QSaveFile out(file);
    const QByteArray text = QStringLiteral("[DATA]\r\nc_reg=%1\r\nc_regp=%2\r\n").arg(reg).arg(regp).toLatin1();
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        m_host.prompter().error(QStringLiteral("No se pudo escribir ") + name + QStringLiteral(": ") +
                                out.errorString());
        return;
    }
    bool sent = false;
    if (sender)
        sent = sender().EnviarMensaje(s.read(QStringLiteral("x_toreg")), QStringLiteral("GETESTADO"), 0,
                                      regp != 0 ? regp : reg, {name}, QString());
    if (sent) m_host.prompter().inform(QStringLiteral("Se ha efectuado la petición de estado exitosamente"));
    QFile::remove(file);
}

void CentralState::ConsultarEstadoVorlund(int pedido, int expediente, int regional, const QString& prefijo) {
    if (regional == 0 || expediente <= 0) return;
    BusyScope busy(m_host.prompter());
    QByteArray body;
    QString error;
    const QString page = QStringLiteral("EstadoVorlund.asp?tram=%1%2&pedqev=%3&regqev=%4")
                             .arg(prefijo)
                             .arg(expediente)
                             .arg(pedido)
                             .arg(regional);
    if (!ObtenerUrl(page, body, error)) {
        m_host.prompter().error(QStringLiteral("Error en la comunicación con Qev Central.\rMensaje: ") + error);
        return;
    }
    const QStringList lines = DividirLineas(body);
    const QString estado = namedLine(lines, QStringLiteral("ESTADO"));
    const QString oficina = namedLine(lines, QStringLiteral("OFICINA"));
    if (!estado.isEmpty() && !oficina.isEmpty())
        m_host.prompter().inform(estado + QLatin1Char('\r') + oficina, QStringLiteral("Estado en Vorlund"));
    else
        m_host.prompter().error(QStringLiteral("Error: Qev Central no ha informado el estado en Vorlund"));
}

Result<QString> CentralState::serviceRoot() const {
    return agencyRoot(WorkstationIni(m_host.appDir().folder()).serviceUrl());
}

bool CentralState::ObtenerMotivoRechazo(bool official, int cPed, int cReg, QString& motivo, QString& error) {
    auto root = serviceRoot();
    if (!root) {
        error = QString::fromStdString(root.error());
        return false;
    }
    BusyScope busy(m_host.prompter());
    const QString operation =
        official ? QStringLiteral("ObtenerMotivoRechazoOficial") : QStringLiteral("ObtenerMotivoRechazoPrivado");
    m_soap.setTimeout(std::chrono::milliseconds(m_timeoutMs));
    auto answer = m_soap.call(
        QUrl(*root + QStringLiteral("QEVSVC/QEVService.asmx")), *root, operation,
        {{QStringLiteral("c_ped"), SoapValue::int32(cPed)}, {QStringLiteral("c_reg"), SoapValue::int32(cReg)}});
    if (!answer) {
        error = QString::fromStdString(answer.error());
        return false;
    }
    const SoapElement* result = answer->child(operation + QStringLiteral("Result"));
    motivo = result ? result->text : QString();
    return true;
}

bool CentralState::ActualizarCodSegur(int cPed, int cReg, const QString& actual, const QString& nuevo, int& result,
                                      QString& error) {
    auto root = serviceRoot();
    if (!root) {
        error = QString::fromStdString(root.error());
        return false;
    }
    m_soap.setTimeout(std::chrono::milliseconds(m_timeoutMs));
    auto answer = m_soap.call(QUrl(*root + QStringLiteral("ActualizaSegurSVC/ActualizaSegur.asmx")), *root,
                              QStringLiteral("ActualizarCodSegur"),
                              {{QStringLiteral("c_pedqev"), SoapValue::int32(cPed)},
                               {QStringLiteral("c_regqev"), SoapValue::int32(cReg)},
                               {QStringLiteral("c_segur_actual"), SoapValue::string(actual)},
                               {QStringLiteral("c_segur_nuevo"), SoapValue::string(nuevo)}});
    if (!answer) {
        error = QString::fromStdString(answer.error());
        return false;
    }
    auto n = answer->childInt(QStringLiteral("ActualizarCodSegurResult"));
    if (!n) {
        error = QString::fromStdString(n.error());
        return false;
    }
    result = *n;
    return true;
}

void CentralState::ActualizarCodigoSeguridad() {
    Dataset* pedp = m_host.table(QStringLiteral("pedp"));
    Prompter& p = m_host.prompter();
    if (!pedp || pedp->isEmpty()) return;
    if (!p.confirm(QStringLiteral("¿Está seguro que desea regenerar el código de seguridad?"),
                   QStringLiteral("Advertencia")))
        return;
    const QString code = newSecurityCode ? newSecurityCode() : QString();
    if (code.isEmpty()) return;
    int result = 0;
    QString error;
    bool asked = false;
    {
        BusyScope busy(p);
        asked = ActualizarCodSegur(static_cast<int>(pedp->value(QStringLiteral("C_PED")).number()),
                                   static_cast<int>(pedp->value(QStringLiteral("C_REG")).number()),
                                   pedp->text(QStringLiteral("C_SEGUR")), code, result, error);
    }
    if (!asked) {
        p.error(QStringLiteral("Imposible conectarse con QEV Central para actualizar el código de seguridad\rverifique "
                               "por favor que se encuentre conectado a Internet y/o tener\rtener conectividad con el "
                               "servidor Web de Brastovia"));
        return;
    }
    if (result < 1) {
        p.error(QStringLiteral("Lo siento, no se ha podido cambiar el código de seguridad en QEV Central"));
        return;
    }
    m_host.setSavePermission(true);
    if (!pedp->edit()) {
        m_host.setSavePermission(false);
        p.error(QStringLiteral("El código de seguridad cambió en QEV Central, pero no se pudo grabar: ") +
                pedp->lastError() + QStringLiteral("\rNuevo código: ") + code);
        return;
    }
    pedp->setText(QStringLiteral("C_SEGUR"), code);
    if (!pedp->post()) {
        // The central office already holds the new code: the operator must be able to give it to the applicant.
        const QString why = pedp->lastError();
        if (pedp->editing()) pedp->cancel();
        m_host.setSavePermission(false);
        p.error(QStringLiteral("El código de seguridad cambió en QEV Central, pero no se pudo grabar: ") + why +
                QStringLiteral("\rNuevo código: ") + code);
        return;
    }
    m_host.setSavePermission(false);
    if (printReceipt) printReceipt();
}

} // namespace qev
