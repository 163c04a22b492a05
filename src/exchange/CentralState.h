#pragma once
// What the office asks the central office besides sending requests: the state lists of its requests and the
// results of its personal requests from the central office's web pages (shown in the state window and applied to
// the tables), the state lists by mail, the state of one request in the case-management system, the reason for a
// rejection and the change of a personal request's security code.
#include "exchange/ReceptionPorts.h"
#include "exchange/soap/SoapClient.h"

#include <QByteArray>
#include <QNetworkProxy>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace qev {

class ReplyHandlers;
class TSMime;

class CentralState {
public:
    CentralState(ReplyHost& host, ReplyHandlers& handlers, ReceptionViews& views);
    ~CentralState();
    CentralState(const CentralState&) = delete;
    CentralState& operator=(const CentralState&) = delete;

    // The message sender for the state request by mail (made by the data module on first use).
    std::function<TSMime&()> sender;
    // The reception-idle flag of the reception cycle: web state requests never overlap a reception.
    std::function<bool()> receptionIdle;
    std::function<void(bool)> setReceptionIdle;
    // A new security code, and the receipt printed again after it changed.
    std::function<QString()> newSecurityCode;
    std::function<void()> printReceipt;
    void setTimeout(int ms) { m_timeoutMs = ms; }
    void setViews(ReceptionViews& views) { m_views = &views; }

    // The proxy of the settings for the web pages and both services; false (silently) when it cannot be used.
    bool ConfigurarProxy();
    // GETs `path` from each base address of table `url` in priority order until one answers with a body.
    bool ObtenerUrl(const QString& path, QByteArray& body, QString& error);

    void ConsultarEstadoWeb();
    void ConsultarResultadosWeb();
    void PedirEstadoMail();
    void ConsultarEstadoVorlund(int pedido, int expediente, int regional, const QString& prefijo);

    // The reason the central office gives for rejecting a request (official or personal); false with the cause.
    bool ObtenerMotivoRechazo(bool official, int cPed, int cReg, QString& motivo, QString& error);
    // "&Regenerar" of the personal request window, on the current row of "pedp".
    void ActualizarCodigoSeguridad();
    // The service call itself: the central office's answer (below 1: refused), or false when it could not be asked.
    bool ActualizarCodSegur(int cPed, int cReg, const QString& actual, const QString& nuevo, int& result,
                            QString& error);

private:
    bool get(const QUrl& url, QByteArray& body, QString& error);
    Result<QString> serviceRoot() const;

    ReplyHost& m_host;
    ReplyHandlers& m_handlers;
    ReceptionViews* m_views;
    std::unique_ptr<QNetworkAccessManager> m_net;
    SoapClient m_soap;
    int m_timeoutMs = 60000;
};

} // namespace qev
