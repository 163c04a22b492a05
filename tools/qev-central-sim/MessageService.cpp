#include "MessageService.h"

#include "util/Result.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>

#include <mutex>

namespace qev::sim {

namespace {

struct ReceivedAttachment {
    QString fileName;
    QString content;
};

struct ReceivedMessage {
    QHash<QString, QString> fields;
    std::vector<ReceivedAttachment> attachments;
    bool hasAttachments = false;
};

// The `msg` structure of the request body.
Result<ReceivedMessage> readMessage(const QByteArray& body) {
    QXmlStreamReader xml(body);
    ReceivedMessage m;
    bool inMsg = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.tokenType() == QXmlStreamReader::DTD) return fail("DTD is prohibited");
        if (!xml.isStartElement()) continue;
        const QString name = xml.name().toString();
        if (!inMsg) {
            inMsg = name == QLatin1String("msg");
            continue;
        }
        if (name == QLatin1String("Attachments")) {
            m.hasAttachments = true;
            continue;
        }
        if (name == QLatin1String("Attachment")) {
            ReceivedAttachment a;
            while (xml.readNextStartElement()) {
                const QString item = xml.name().toString();
                const QString text = xml.readElementText();
                if (item == QLatin1String("fileName"))
                    a.fileName = text;
                else if (item == QLatin1String("fileContentBase64"))
                    a.content = text;
            }
            m.attachments.push_back(std::move(a));
            continue;
        }
        m.fields.insert(name, xml.readElementText(QXmlStreamReader::IncludeChildElements));
    }
    if (xml.hasError()) return fail("malformed XML: " + xml.errorString().toStdString());
    if (!inMsg) return fail("the request holds no msg element");
    return m;
}

QString keepPackage(const QString& store, const ReceivedMessage& m, int number) {
    // Check everything before anything is written.
    std::vector<QByteArray> decoded;
    QStringList notes;
    for (const ReceivedAttachment& a : m.attachments) {
        if (a.fileName.isEmpty() || a.fileName.contains(QLatin1Char('/')) || a.fileName.contains(QLatin1Char('\\')) ||
            a.fileName == QLatin1String(".") || a.fileName == QLatin1String(".."))
            return QStringLiteral("Nombre de archivo adjunto inválido: '%1'").arg(a.fileName);
        QString text = a.content;
        const bool crlf = text.endsWith(QLatin1String("\r\n"));
        if (crlf) text.chop(2);
        auto bytes = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
            return QStringLiteral("El contenido del adjunto '%1' no es Base64 en una línea").arg(a.fileName);
        notes << QStringLiteral("Attachment=%1 %2 bytes%3")
                     .arg(a.fileName)
                     .arg(bytes.decoded.size())
                     .arg(crlf || text.isEmpty() ? QString() : QStringLiteral(" (sin CR LF final)"));
        decoded.push_back(bytes.decoded);
    }
    if (store.isEmpty()) return QString();
    const QString name = QStringLiteral("%1-P%2-R%3")
                             .arg(number, 4, 10, QLatin1Char('0'))
                             .arg(m.fields.value(QStringLiteral("Pedido")), m.fields.value(QStringLiteral("Regional")));
    QDir dir(store);
    if (!dir.mkpath(name)) return QStringLiteral("No se pudo crear la carpeta del mensaje");
    dir.cd(name);
    QString text;
    for (const char* f : {"Pedido", "Regional", "MAC", "HostName", "Recipients", "Subject", "Body"})
        text += QString::fromLatin1(f) + QLatin1Char('=') + m.fields.value(QString::fromLatin1(f)) + QLatin1Char('\n');
    text += QStringLiteral("Attachments=%1\n")
                .arg(m.hasAttachments ? QString::number(m.attachments.size()) : QStringLiteral("none"));
    for (const QString& n : notes)
        text += n + QLatin1Char('\n');
    for (size_t i = 0; i < decoded.size(); ++i) {
        QSaveFile f(dir.filePath(m.attachments[i].fileName));
        if (!f.open(QIODevice::WriteOnly) || f.write(decoded[i]) != decoded[i].size() || !f.commit())
            return QStringLiteral("No se pudo guardar el adjunto");
    }
    // The field file last: a folder with "message.txt" holds a whole package.
    QSaveFile f(dir.filePath(QStringLiteral("message.txt")));
    const QByteArray bytes = text.toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        return QStringLiteral("No se pudo guardar el mensaje");
    return QString();
}

// A request package makes the request known as in process: official or personal by its subject ("PEDIDOP" and
// "CORRECCIONP" are personal) or by its "ped.dat" (only personal requests have "c_tped"). Other messages (the state
// request "GETESTADO") change nothing.
void recordReceived(const ReceivedMessage& m, Ledger& ledger) {
    const QString subject = m.fields.value(QStringLiteral("Subject")).trimmed();
    if (subject == QLatin1String("GETESTADO")) return;
    CentralEvent e;
    e.ms = nowMs();
    e.pedido = m.fields.value(QStringLiteral("Pedido")).trimmed().toInt();
    e.regional = m.fields.value(QStringLiteral("Regional")).trimmed().toInt();
    if (e.pedido <= 0 || e.regional <= 0) return;
    e.personal = subject == QLatin1String("PEDIDOP") || subject == QLatin1String("CORRECCIONP");
    for (const ReceivedAttachment& a : m.attachments) {
        if (a.fileName.compare(QLatin1String("ped.dat"), Qt::CaseInsensitive) != 0) continue;
        const QByteArray bytes = QByteArray::fromBase64(a.content.trimmed().toLatin1());
        for (const QByteArray& raw : bytes.split('\n')) {
            const QString line = QString::fromLatin1(raw).trimmed();
            const QString key = line.section(QLatin1Char('='), 0, 0).trimmed().toLower();
            if (key == QLatin1String("c_tped")) e.personal = true;
            if (key == QLatin1String("c_segur")) e.segur = line.section(QLatin1Char('='), 1).trimmed();
        }
    }
    if (!e.personal) e.segur.clear();
    e.estado = QStringLiteral("T");
    ledger.record(e);
}

// The regionals a state request names: "c_reg" and "c_regp" of its "GetEstado.DAT".
bool stateRequestOf(const ReceivedMessage& m, int& cReg, int& cRegp) {
    if (m.fields.value(QStringLiteral("Subject")).trimmed() != QLatin1String("GETESTADO")) return false;
    cReg = cRegp = 0;
    for (const ReceivedAttachment& a : m.attachments) {
        if (a.fileName.compare(QLatin1String("GetEstado.DAT"), Qt::CaseInsensitive) != 0) continue;
        for (const QByteArray& raw : QByteArray::fromBase64(a.content.trimmed().toLatin1()).split('\n')) {
            const QString line = QString::fromLatin1(raw).trimmed();
            const QString key = line.section(QLatin1Char('='), 0, 0).trimmed().toLower();
            const int value = line.section(QLatin1Char('='), 1).trimmed().toInt();
            if (key == QLatin1String("c_reg")) cReg = value;
            if (key == QLatin1String("c_regp")) cRegp = value;
        }
    }
    return true;
}

} // namespace

AsmxService messageService(const SimData& data, const QString& store, Ledger* ledger, StateRequest stateRequest) {
    AsmxService s{QStringLiteral("QEVMessageService"), QStringLiteral("/QEVService/QEVMessageService.asmx"), {}};
    auto counter = std::make_shared<std::atomic<int>>(0);
    auto lock = std::make_shared<std::mutex>();
    s.operations.push_back({QStringLiteral("SendMessage"),
                            {{QStringLiteral("msg"), ParamType::Structure}},
                            [&data, store, counter, lock, ledger, stateRequest](const AsmxArgs& args) {
                                AsmxOutcome o;
                                const Misbehaviour& mb = data.messages.misbehaviour;
                                o.delayMs = mb.delayMs;
                                if (mb.httpStatus || mb.fault) {
                                    o.fault = mb.fault;
                                    o.httpStatus = mb.httpStatus;
                                    return o;
                                }
                                auto m = readMessage(args.body());
                                if (!m) {
                                    o.fault = QString::fromStdString(m.error());
                                    return o;
                                }
                                const std::lock_guard<std::mutex> guard(*lock);
                                const QString problem = keepPackage(store, *m, ++*counter);
                                if (!problem.isEmpty()) {
                                    o.fault = problem;
                                    return o;
                                }
                                if (ledger) recordReceived(*m, *ledger);
                                int cReg = 0;
                                int cRegp = 0;
                                if (stateRequest && stateRequestOf(*m, cReg, cRegp)) stateRequest(cReg, cRegp);
                                o.outputs.push_back({QStringLiteral("SendMessageResult"), data.messages.reply});
                                return o;
                            }});
    s.operations.push_back(
        {QStringLiteral("VerifyMessage"), {{QStringLiteral("msg"), ParamType::Structure}}, [](const AsmxArgs& args) {
             AsmxOutcome o;
             auto m = readMessage(args.body());
             if (!m) {
                 o.fault = QString::fromStdString(m.error());
                 return o;
             }
             o.outputs.push_back({QStringLiteral("VerifyMessageResult"),
                                  QString::fromUtf8(kVerifyAnswer) + QStringLiteral(" (regional ") +
                                      m->fields.value(QStringLiteral("Regional")) + QLatin1Char(')')});
             return o;
         }});
    return s;
}

} // namespace qev::sim
