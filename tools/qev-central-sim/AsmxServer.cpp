#include "AsmxServer.h"

#include "util/Result.h"

#include <QDateTime>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <httplib.h>

#include <chrono>
#include <thread>

namespace qev::sim {

namespace {

const QString kEnvNs = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
const QString kXsiNs = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
const QString kXsdNs = QStringLiteral("http://www.w3.org/2001/XMLSchema");
const QString kUnreadable = QStringLiteral("Server was unable to read request. ---> ");

struct ReadArg {
    QString name;
    QString ns;
    bool nil = false;
    QString text;
};

struct ReadCall {
    QString name;
    QString ns;
    std::vector<ReadArg> args;
};

QString xmlPosition(const QXmlStreamReader& xml) {
    return QStringLiteral("There is an error in XML document (%1, %2).").arg(xml.lineNumber()).arg(xml.columnNumber());
}

// The operation element of a request envelope with its child elements; a failure is the text of a soap:Client fault.
Result<ReadCall> readCall(const QByteArray& body) {
    QXmlStreamReader xml(body);
    auto error = [&](const QString& why) { return fail((kUnreadable + why).toStdString()); };
    auto xmlError = [&] { return error(xmlPosition(xml) + QStringLiteral(" ---> ") + xml.errorString()); };
    // Moves to the next child element of the current element; false at the current element's end.
    auto nextStart = [&xml] {
        while (!xml.atEnd()) {
            const auto t = xml.readNext();
            if (t == QXmlStreamReader::StartElement) return true;
            if (t == QXmlStreamReader::EndElement) return false;
        }
        return false;
    };
    // The root element.
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
        if (xml.tokenType() == QXmlStreamReader::DTD)
            return error(QStringLiteral("For security reasons DTD is prohibited in this XML document."));
    }
    if (xml.hasError() || xml.tokenType() != QXmlStreamReader::StartElement) return xmlError();
    if (xml.namespaceUri() != kEnvNs || xml.name() != QLatin1String("Envelope"))
        return fail(
            QStringLiteral("Possible SOAP version mismatch: Envelope namespace %1 was unexpected. Expecting %2.")
                .arg(xml.namespaceUri().toString(), kEnvNs)
                .toStdString());
    std::optional<ReadCall> call;
    while (nextStart()) {
        if (xml.namespaceUri() != kEnvNs || xml.name() != QLatin1String("Body")) {
            xml.skipCurrentElement();
            continue;
        }
        if (nextStart()) {
            ReadCall c{xml.name().toString(), xml.namespaceUri().toString(), {}};
            while (nextStart()) {
                ReadArg arg{xml.name().toString(), xml.namespaceUri().toString(), false, QString()};
                const QStringView nil = xml.attributes().value(kXsiNs, QStringLiteral("nil"));
                arg.nil = nil == QLatin1String("true") || nil == QLatin1String("1");
                arg.text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                c.args.push_back(std::move(arg));
            }
            call = std::move(c);
        }
        break;
    }
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::DTD)
            return error(QStringLiteral("For security reasons DTD is prohibited in this XML document."));
    if (xml.hasError()) return xmlError();
    if (!call) return error(QStringLiteral("The request holds no operation in its SOAP body."));
    return *call;
}

QByteArray envelope(const std::function<void(QXmlStreamWriter&)>& writeBody) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartDocument();
    xml.writeNamespace(kEnvNs, QStringLiteral("soap"));
    xml.writeNamespace(kXsiNs, QStringLiteral("xsi"));
    xml.writeNamespace(kXsdNs, QStringLiteral("xsd"));
    xml.writeStartElement(kEnvNs, QStringLiteral("Envelope"));
    xml.writeStartElement(kEnvNs, QStringLiteral("Body"));
    writeBody(xml);
    xml.writeEndDocument();
    return out;
}

QByteArray faultEnvelope(const QString& code, const QString& text) {
    return envelope([&](QXmlStreamWriter& xml) {
        xml.writeStartElement(kEnvNs, QStringLiteral("Fault"));
        xml.writeTextElement(QStringLiteral("faultcode"), QStringLiteral("soap:") + code);
        xml.writeTextElement(QStringLiteral("faultstring"), text);
        xml.writeEmptyElement(QStringLiteral("detail"));
        xml.writeEndElement();
    });
}

QString shown(const std::optional<QString>& text) {
    if (!text) return QStringLiteral("null");
    QString t = *text;
    if (t.size() > 80) t = t.left(80) + QStringLiteral("...");
    return QLatin1Char('"') + t + QLatin1Char('"');
}

bool parseNumber(const QString& text, ParamType type, qint64& out) {
    bool ok = false;
    const QString t = text.trimmed();
    if (type == ParamType::Int) {
        out = t.toInt(&ok);
    } else {
        out = t.toLongLong(&ok);
    }
    return ok;
}

} // namespace

std::optional<QString> AsmxArgs::string(const QString& name) const {
    return m_values.value(name);
}

qint64 AsmxArgs::number(const QString& name) const {
    const std::optional<QString> v = m_values.value(name);
    return v ? v->toLongLong() : 0;
}

void CallLog::write(const QString& line) {
    const QByteArray bytes =
        (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + line + QLatin1Char('\n'))
            .toUtf8();
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_out);
    std::fflush(m_out);
}

void AsmxServer::mount(httplib::Server& http) const {
    for (const AsmxService& service : m_services) {
        std::string pattern;
        for (const char c : service.path.toStdString()) {
            if (c == '.') pattern += '\\';
            pattern += c;
        }
        const AsmxService* s = &service;
        http.Post(pattern,
                  [this, s](const httplib::Request& req, httplib::Response& res) { handlePost(*s, req, res); });
        http.Get(pattern, [this, s](const httplib::Request& req, httplib::Response& res) { handleGet(*s, req, res); });
    }
}

void AsmxServer::handleGet(const AsmxService& service, const httplib::Request& req, httplib::Response& res) const {
    for (const auto& param : req.params) {
        if (QString::fromStdString(param.first).compare(QLatin1String("wsdl"), Qt::CaseInsensitive) == 0) {
            m_log.write(service.path + QStringLiteral(" ?WSDL -> http 404"));
            res.status = 404;
            res.set_content("The simulator does not serve service descriptions.\n", "text/plain; charset=utf-8");
            return;
        }
    }
    QString page = QStringLiteral("<html><body><h1>%1</h1><ul>").arg(service.name);
    for (const AsmxOperation& op : service.operations)
        page += QStringLiteral("<li>%1</li>").arg(op.name);
    page += QStringLiteral("</ul></body></html>\n");
    res.set_content(page.toStdString(), "text/html; charset=utf-8");
}

void AsmxServer::handlePost(const AsmxService& service, const httplib::Request& req, httplib::Response& res) const {
    const QString path = service.path;
    auto clientFault = [&](const QString& operation, const QString& text) {
        m_log.write(path + QLatin1Char(' ') + operation + QStringLiteral(" -> client fault ") + shown(text));
        res.status = 500;
        res.set_content(faultEnvelope(QStringLiteral("Client"), text).toStdString(), "text/xml; charset=utf-8");
    };
    const QString contentType = QString::fromStdString(req.get_header_value("Content-Type"));
    if (!contentType.startsWith(QLatin1String("text/xml"), Qt::CaseInsensitive)) {
        m_log.write(path + QStringLiteral(" - -> http 415 (content type ") + shown(contentType) + QLatin1Char(')'));
        res.status = 415;
        res.set_content("The request's content type must be text/xml.\n", "text/plain; charset=utf-8");
        return;
    }
    QString action = QString::fromStdString(req.get_header_value("SOAPAction")).trimmed();
    if (action.size() >= 2 && action.startsWith(QLatin1Char('"')) && action.endsWith(QLatin1Char('"')))
        action = action.mid(1, action.size() - 2);
    const AsmxOperation* op = nullptr;
    for (const AsmxOperation& candidate : service.operations)
        if (m_ns + candidate.name == action) op = &candidate;
    if (!op)
        return clientFault(
            QStringLiteral("-"),
            QStringLiteral("Server did not recognize the value of HTTP Header SOAPAction: %1.").arg(action));

    auto call = readCall(QByteArray::fromStdString(req.body));
    if (!call) return clientFault(op->name, QString::fromStdString(call.error()));
    if (call->name != op->name || call->ns != m_ns)
        return clientFault(op->name,
                           kUnreadable + QStringLiteral("<%1 xmlns='%2'> was not expected.").arg(call->name, call->ns));
    AsmxArgs args;
    args.setBody(QByteArray::fromStdString(req.body));
    QString argText;
    for (const AsmxParam& param : op->params) {
        std::optional<QString> value;
        for (const ReadArg& a : call->args) {
            if (a.name != param.name || a.ns != m_ns) continue;
            if (!a.nil) value = a.text;
            break;
        }
        if (param.type == ParamType::Structure) {
            argText += QLatin1Char(' ') + param.name + (value ? QStringLiteral("={...}") : QStringLiteral("=null"));
            args.set(param.name, value);
            continue;
        }
        if (value && param.type != ParamType::String) {
            qint64 n = 0;
            if (!parseNumber(*value, param.type, n))
                return clientFault(op->name, kUnreadable + QStringLiteral("Input string was not in a correct format."));
            value = QString::number(n);
        }
        argText += QLatin1Char(' ') + param.name + QLatin1Char('=') +
                   (value && param.type != ParamType::String ? *value : shown(value));
        args.set(param.name, value);
    }

    const AsmxOutcome outcome = op->run(args);
    if (outcome.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(outcome.delayMs));
    const QString line = path + QLatin1Char(' ') + op->name + argText + QStringLiteral(" -> ");
    const QString delayed = outcome.delayMs > 0 ? QStringLiteral(" after %1 ms").arg(outcome.delayMs) : QString();
    if (outcome.httpStatus != 0) {
        m_log.write(line + QStringLiteral("http %1").arg(outcome.httpStatus) + delayed);
        res.status = outcome.httpStatus;
        res.set_content(
            QStringLiteral("<html><body><h1>HTTP error %1</h1></body></html>\n").arg(outcome.httpStatus).toStdString(),
            "text/html; charset=utf-8");
        return;
    }
    if (outcome.fault) {
        m_log.write(line + QStringLiteral("fault ") + shown(outcome.fault) + delayed);
        res.status = 500;
        res.set_content(faultEnvelope(QStringLiteral("Server"), *outcome.fault).toStdString(),
                        "text/xml; charset=utf-8");
        return;
    }
    QString outText;
    const QByteArray answer = envelope([&](QXmlStreamWriter& xml) {
        xml.writeStartElement(op->name + QStringLiteral("Response"));
        xml.writeDefaultNamespace(m_ns);
        for (const AsmxOutput& out : outcome.outputs) {
            outText += QLatin1Char(' ') + out.name + QLatin1Char('=') + shown(out.text);
            if (out.text) xml.writeTextElement(m_ns, out.name, *out.text);
        }
        xml.writeEndElement();
    });
    m_log.write(line + QStringLiteral("ok") + outText + delayed);
    res.status = 200;
    res.set_content(answer.toStdString(), "text/xml; charset=utf-8");
}

} // namespace qev::sim
