#include "exchange/QevMessage.h"

#include "core/Settings.h"
#include "exchange/soap/SoapSettings.h"

#include <QFile>
#include <QFileInfo>

namespace qev {

QString attachmentContent(const QByteArray& bytes) {
    if (bytes.isEmpty()) return QString();
    return QString::fromLatin1(bytes.toBase64()) + QStringLiteral("\r\n");
}

Result<Attachment> makeAttachment(const QString& path, qint64 maxBytes) {
    const QFileInfo info(path);
    Attachment a{info.fileName(), QString()};
    if (!info.exists()) return a;
    if (info.size() > maxBytes)
        return fail("the file " + path.toStdString() + " is larger than " + std::to_string(maxBytes) + " bytes");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail("cannot read " + path.toStdString() + ": " + f.errorString().toStdString());
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return fail("cannot read " + path.toStdString() + ": " + f.errorString().toStdString());
    a.fileContentBase64 = attachmentContent(bytes);
    return a;
}

SoapFields messageParams(const QEVMessage& msg) {
    std::vector<SoapValue> items;
    items.reserve(msg.Attachments.size());
    for (const Attachment& a : msg.Attachments)
        items.push_back(
            SoapValue::complex({{QStringLiteral("fileName"), SoapValue::string(a.fileName)},
                                {QStringLiteral("fileContentBase64"), SoapValue::string(a.fileContentBase64)}}));
    SoapFields fields{
        {QStringLiteral("Pedido"), SoapValue::int32(msg.Pedido)},
        {QStringLiteral("Regional"), SoapValue::int32(msg.Regional)},
        {QStringLiteral("MAC"), SoapValue::string(msg.MAC)},
        {QStringLiteral("HostName"), SoapValue::string(msg.HostName)},
        {QStringLiteral("Recipients"), SoapValue::string(msg.Recipients)},
        {QStringLiteral("Subject"), SoapValue::string(msg.Subject)},
        {QStringLiteral("Body"), SoapValue::string(msg.Body)},
        // A message without files carries no attachment element at all.
        {QStringLiteral("Attachments"),
         items.empty() ? SoapValue::omitted() : SoapValue::array(QStringLiteral("Attachment"), items)},
    };
    return {{QStringLiteral("msg"), SoapValue::complex(std::move(fields))}};
}

Result<MessageServiceEndpoint> messageServiceEndpoint(const QString& officeFolder, const Settings& settings) {
    MessageServiceEndpoint e;
    const QString address = WorkstationIni(officeFolder).serviceUrl();
    auto root = agencyRoot(address);
    if (!root) return fail(root.error());
    e.url = QUrl(address);
    e.ns = *root;
    auto proxy = proxyFromSettings(settings);
    if (!proxy) return fail(proxy.error());
    e.proxy = *proxy;
    return e;
}

QevMessageService::QevMessageService(MessageServiceEndpoint endpoint) : m_endpoint(std::move(endpoint)) {
    m_client.setProxy(m_endpoint.proxy);
    m_client.setTimeout(m_endpoint.timeout);
}

Result<QString> QevMessageService::call(const QString& operation, const QEVMessage& msg) {
    auto response = m_client.call(m_endpoint.url, m_endpoint.ns, operation, messageParams(msg));
    if (!response) return fail(response.error());
    return response->childText(QString(operation + QStringLiteral("Result"))).value_or(QString());
}

Result<QString> QevMessageService::SendMessage(const QEVMessage& msg) {
    return call(QStringLiteral("SendMessage"), msg);
}

Result<QString> QevMessageService::VerifyMessage(const QEVMessage& msg) {
    return call(QStringLiteral("VerifyMessage"), msg);
}

std::unique_ptr<QevMessageService> CreateMessageServiceProxy(const MessageServiceEndpoint& endpoint) {
    return std::make_unique<QevMessageService>(endpoint);
}

} // namespace qev
