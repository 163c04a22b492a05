#pragma once
// The central office's message service: every outgoing message travels as one QEVMessage, its files inside as
// Base64 texts, by the calls SendMessage and VerifyMessage of "QEVMessageService" (SOAP 1.1, document/literal,
// in the namespace of the agency's web root).
#include "exchange/soap/SoapClient.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <vector>

namespace qev {

struct Attachment {
    QString fileName;          // the file's name without folder
    QString fileContentBase64; // the bytes in standard Base64 on one line, then CR LF; empty for a missing file
};

struct QEVMessage {
    qint32 Pedido = 0;
    qint32 Regional = 0;
    QString MAC;
    QString HostName;
    QString Recipients;
    QString Subject;
    QString Body;
    std::vector<Attachment> Attachments;
};

// The Base64 text of an attachment's bytes: one line, CR LF after it; empty for no bytes.
QString attachmentContent(const QByteArray& bytes);
// The attachment of a file. A missing file gives an empty content; a file that exists but cannot be read (or is
// larger than `maxBytes`) is an error, so that a package is never sent with a file silently emptied.
Result<Attachment> makeAttachment(const QString& path, qint64 maxBytes = qint64(256) << 20);

// The `msg` parameter of both calls.
SoapFields messageParams(const QEVMessage& msg);

// Where the message service is and how to reach it.
struct MessageServiceEndpoint {
    QUrl url;   // "QEVReg.INI" [QEVService] URL
    QString ns; // the agency's web root, "http://host/"
    SoapProxy proxy;
    std::chrono::milliseconds timeout = SoapClient::kDefaultTimeout;
};

// The service's address from the workstation file and the office settings; fails on an address that is not
// http(s) or a proxy that cannot be used.
class Settings;
Result<MessageServiceEndpoint> messageServiceEndpoint(const QString& officeFolder, const Settings& settings);

class QevMessageService {
public:
    explicit QevMessageService(MessageServiceEndpoint endpoint);
    // The service's answer text; an error for a network, HTTP or SOAP failure.
    Result<QString> SendMessage(const QEVMessage& msg);
    Result<QString> VerifyMessage(const QEVMessage& msg);

private:
    Result<QString> call(const QString& operation, const QEVMessage& msg);
    MessageServiceEndpoint m_endpoint;
    SoapClient m_client;
};

// A new client bound to the endpoint; one per call, on the thread that makes the call.
std::unique_ptr<QevMessageService> CreateMessageServiceProxy(const MessageServiceEndpoint& endpoint);

} // namespace qev
